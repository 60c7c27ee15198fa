#include "controller/base/mac_address.h"

#include <algorithm>
#include <charconv>

namespace hostsweep::controller {
namespace {

constexpr std::size_t kPairWidth = 3;  // two digits and a separator
constexpr std::uint8_t kLocalBit = 0x02;
constexpr std::uint8_t kAllOnes = 0xFF;

std::string MacText(const MacAddress& mac, std::string_view hexDigits) {
  std::string text;
  for (const std::uint8_t octet : mac) {
    if (!text.empty()) {
      text += ':';
    }
    text += hexDigits[octet >> 4];
    text += hexDigits[octet & 0x0F];
  }
  return text;
}

}  // namespace

std::string FormatMac(const MacAddress& mac) { return MacText(mac, "0123456789abcdef"); }

std::string FormatNmapMac(const MacAddress& mac) { return MacText(mac, "0123456789ABCDEF"); }

std::optional<MacAddress> ParseMac(std::string_view text) {
  MacAddress mac{};
  if (text.size() != mac.size() * kPairWidth - 1) {
    return std::nullopt;
  }
  // One separator throughout: "00:1A-..." is no MAC.
  const char separator = text[2];
  if (separator != ':' && separator != '-') {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < mac.size(); ++i) {
    const auto pair = text.substr(i * kPairWidth, 2);
    const bool separated = i + 1 == mac.size() || text[i * kPairWidth + 2] == separator;
    const auto [rest, error] = std::from_chars(pair.data(), pair.data() + 2, mac[i], 16);
    if (!separated || error != std::errc{} || rest != pair.data() + 2) {
      return std::nullopt;
    }
  }
  return mac;
}

bool IsPlaceholderMac(const MacAddress& mac) {
  const auto all = [&mac](std::uint8_t value) {
    return std::all_of(mac.begin(), mac.end(), [value](std::uint8_t o) { return o == value; });
  };
  return all(0) || all(kAllOnes);
}

bool IsLocallyAdministered(const MacAddress& mac) { return (mac[0] & kLocalBit) != 0; }

}  // namespace hostsweep::controller
