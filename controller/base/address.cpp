#include "controller/base/address.h"

#include <charconv>

namespace hostsweep::controller {
namespace {

constexpr int kOctets = 4;
constexpr unsigned kMostOctet = 255;

}  // namespace

std::string FormatAddress(Address address) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    text += std::to_string(address >> shift & kMostOctet);
    text += shift > 0 ? "." : "";
  }
  return text;
}

std::optional<unsigned> ParseOctet(std::string_view text) {
  if (text.empty() || text.size() > 3 || (text.size() > 1 && text.front() == '0')) {
    return std::nullopt;
  }
  unsigned value = 0;
  const auto* end = text.data() + text.size();
  const auto [rest, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc{} || rest != end || value > kMostOctet) {
    return std::nullopt;
  }
  return value;
}

std::optional<Address> ParseAddress(std::string_view text, AddressFault* fault) {
  Address address = 0;
  for (int i = 0; i < kOctets; ++i) {
    const auto dot = i + 1 < kOctets ? text.find('.') : std::string_view::npos;
    if (i + 1 < kOctets && dot == std::string_view::npos) {
      if (fault != nullptr) {
        *fault = {.part = text, .notDotted = true};
      }
      return std::nullopt;
    }
    const auto part = text.substr(0, dot);
    const auto octet = ParseOctet(part);
    if (!octet) {
      if (fault != nullptr) {
        *fault = {.part = part, .notDotted = false};
      }
      return std::nullopt;
    }
    address = address << 8U | *octet;
    text = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
  }
  return address;
}

}  // namespace hostsweep::controller
