#include "controller/snmp/neighbour_rows.h"

#include <algorithm>

namespace hostsweep::controller {
namespace {

constexpr std::uint64_t kIpv4Type = 1;  // InetAddressType ipv4
constexpr std::size_t kIpv4Length = 4;

bool StartsWith(SnmpOid oid, std::span<const std::uint64_t> column) {
  return oid.size() > column.size() && std::equal(column.begin(), column.end(), oid.begin());
}

// The four sub-identifiers of an IPv4 address, each an octet.
std::optional<Address> AddressOf(SnmpOid octets) {
  if (octets.size() != kIpv4Length) {
    return std::nullopt;
  }
  Address address = 0;
  for (const std::uint64_t octet : octets) {
    if (octet > 0xFF) {
      return std::nullopt;
    }
    address = (address << 8U) | static_cast<Address>(octet);
  }
  return address;
}

// The IPv4 address an index names after its ifIndex.
std::optional<Address> IndexedAddress(SnmpOid oid) {
  if (StartsWith(oid, kIpNetToPhysicalMac)) {
    const SnmpOid index = oid.subspan(kIpNetToPhysicalMac.size());
    // ifIndex, addressType, addressLength, then the address.
    if (index.size() < 3 || index[1] != kIpv4Type || index[2] != kIpv4Length) {
      return std::nullopt;
    }
    return AddressOf(index.subspan(3));
  }
  if (StartsWith(oid, kIpNetToMediaMac)) {
    return AddressOf(oid.subspan(kIpNetToMediaMac.size() + 1));
  }
  return std::nullopt;
}

}  // namespace

std::optional<RoutedNeighbour> NeighbourOfRow(SnmpOid oid, std::span<const std::uint8_t> value) {
  const auto address = IndexedAddress(oid);
  RoutedNeighbour neighbour{};
  if (!address || value.size() != neighbour.mac.size()) {
    return std::nullopt;
  }
  neighbour.address = *address;
  std::copy(value.begin(), value.end(), neighbour.mac.begin());
  // The group bit covers broadcast; all zeros is an entry still unresolved.
  constexpr std::uint8_t kGroupBit = 0x01;
  if ((neighbour.mac[0] & kGroupBit) != 0 || IsPlaceholderMac(neighbour.mac)) {
    return std::nullopt;
  }
  return neighbour;
}

}  // namespace hostsweep::controller
