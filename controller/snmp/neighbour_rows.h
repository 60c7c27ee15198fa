// A router's neighbour table as its SNMP agent lists it: each row of
// ipNetToPhysicalTable (RFC 4293) or the older ipNetToMediaTable (RFC 1213)
// read into an IPv4 address and its MAC. The agent is another machine's
// word, so a row is taken only when its index and value have the lengths
// the tables give them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "controller/base/address.h"
#include "controller/base/mac_address.h"

namespace hostsweep::controller {

using SnmpOid = std::span<const std::uint64_t>;

// ipNetToPhysicalPhysAddress, indexed by ifIndex, addressType,
// addressLength and the address's octets.
inline constexpr std::array<std::uint64_t, 10> kIpNetToPhysicalMac{1, 3, 6, 1, 2, 1, 4, 35, 1, 4};
// ipNetToMediaPhysAddress, indexed by ifIndex and the IPv4 address's octets.
inline constexpr std::array<std::uint64_t, 10> kIpNetToMediaMac{1, 3, 6, 1, 2, 1, 4, 22, 1, 2};

struct RoutedNeighbour {
  Address address = 0;
  MacAddress mac{};
  bool operator==(const RoutedNeighbour&) const = default;
};

// The neighbour a row of either column names (`oid` its full name, `value`
// its octet string); nothing for another column, an IPv6 or malformed
// index, a value that is not six octets, or a MAC that names no one host
// (all zeros, broadcast or multicast).
std::optional<RoutedNeighbour> NeighbourOfRow(SnmpOid oid, std::span<const std::uint8_t> value);

}  // namespace hostsweep::controller
