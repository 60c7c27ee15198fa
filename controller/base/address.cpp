#include "controller/base/address.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace hostsweep::controller {
namespace {

constexpr int kOctets = 4;
constexpr unsigned kMostOctet = 255;
constexpr int kIpv6Groups = 8;

bool IsHexGroup(std::string_view group) {
  constexpr std::size_t kMostDigits = 4;
  return !group.empty() && group.size() <= kMostDigits &&
         std::all_of(group.begin(), group.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

// How many 16-bit groups `text` holds, joined by colons, the last perhaps a
// dotted IPv4 address (two groups) where `ipv4Tail`; nothing when it is not
// such a text.
std::optional<int> Ipv6Groups(std::string_view text, bool ipv4Tail) {
  int groups = 0;
  for (std::size_t colon = 0; !text.empty(); text.remove_prefix(colon + 1)) {
    colon = text.find(':');
    const std::string_view group = text.substr(0, colon);
    if (colon == std::string_view::npos) {
      if (ipv4Tail && ParseAddress(group)) {
        return groups + 2;
      }
      return IsHexGroup(group) ? std::optional(groups + 1) : std::nullopt;
    }
    if (!IsHexGroup(group) || colon + 1 == text.size()) {
      return std::nullopt;
    }
    ++groups;
  }
  return groups;
}

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

std::optional<Address> ParseAddress(std::string_view text) {
  Address address = 0;
  for (int i = 0; i < kOctets; ++i) {
    const auto dot = i + 1 < kOctets ? text.find('.') : std::string_view::npos;
    if (i + 1 < kOctets && dot == std::string_view::npos) {
      return std::nullopt;
    }
    const auto octet = ParseOctet(text.substr(0, dot));
    if (!octet) {
      return std::nullopt;
    }
    address = address << 8U | *octet;
    text = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
  }
  return address;
}

bool IsIpv6Text(std::string_view text) {
  const std::size_t percent = text.find('%');
  if (percent != std::string_view::npos) {
    const std::string_view zone = text.substr(percent + 1);
    if (zone.empty() || !std::all_of(zone.begin(), zone.end(), [](char c) {
          return std::isgraph(static_cast<unsigned char>(c)) != 0;
        })) {
      return false;
    }
    text = text.substr(0, percent);
  }
  const std::size_t gap = text.find("::");
  if (gap == std::string_view::npos) {
    return Ipv6Groups(text, true) == kIpv6Groups;
  }
  if (text.find("::", gap + 1) != std::string_view::npos) {
    return false;
  }
  const auto before = Ipv6Groups(text.substr(0, gap), false);
  const auto after = Ipv6Groups(text.substr(gap + 2), true);
  return before && after && *before + *after < kIpv6Groups;
}

}  // namespace hostsweep::controller
