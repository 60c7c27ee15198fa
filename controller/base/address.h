// An IPv4 address as every part of the controller holds it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hostsweep::controller {

// An IPv4 address in host byte order.
using Address = std::uint32_t;

inline constexpr int kAddressBits = 32;

// The mask of a network with `prefixLength` bits, 0 to 32 ("/24": 255.255.255.0).
constexpr Address NetworkMask(int prefixLength) {
  return prefixLength <= 0 ? 0 : ~Address{0} << static_cast<unsigned>(kAddressBits - prefixLength);
}

std::string FormatAddress(Address address);

// A decimal octet, 0 to 255, without sign or leading zeros.
std::optional<unsigned> ParseOctet(std::string_view text);

// Four octets joined by dots ("10.0.0.1"), nothing around them; nothing
// otherwise.
std::optional<Address> ParseAddress(std::string_view text);

// Whether `text` is an IPv6 address as text (RFC 4291 2.2: eight groups of
// hex digits, "::" for a run of zeros, a dotted IPv4 tail), a zone after '%'
// allowed ("fe80::1%eth0").
bool IsIpv6Text(std::string_view text);

}  // namespace hostsweep::controller
