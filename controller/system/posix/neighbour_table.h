// One entry of the neighbour table's rtnetlink dump, apart from the socket so
// that it can be checked from canned messages.
#pragma once

#include <linux/netlink.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "controller/system/neighbour_table.h"

namespace hostsweep::controller {

using Ipv6Bytes = std::array<std::uint8_t, 16>;

struct Ipv6NeighbourEntry {
  Ipv6Bytes address{};
  int interfaceIndex = 0;
  MacAddress mac{};
};

// The entry an RTM_NEWNEIGH message holds, if it is a usable (resolved) IPv4
// entry with an Ethernet address; malformed messages give nothing.
std::optional<NeighbourEntry> NeighbourEntryOf(const nlmsghdr& header);
// Whether an RTM_NEWNEIGH message is an IPv4 entry the system cannot reclaim
// now: Linux's forced clean-up takes only entries no timer holds (not being
// resolved, not counted reachable) and not updated in the last 5 s.
bool HoldsTableEntry(const nlmsghdr& header);
// The overflow count (ReadNeighbourTableOverflows) an RTM_NEWNEIGHTBL
// message holds, if it is the IPv4 table's with its statistics.
std::optional<std::uint64_t> TableOverflowsOf(const nlmsghdr& header);
// The same for the IPv6 entries.
std::optional<Ipv6NeighbourEntry> Ipv6NeighbourEntryOf(const nlmsghdr& header);

// The resolved IPv6 entries of the system's neighbour table; throws SystemError.
std::vector<Ipv6NeighbourEntry> ReadIpv6NeighbourTable();

}  // namespace hostsweep::controller
