// One entry of the neighbour table's rtnetlink dump, apart from the socket so
// that it can be checked from canned messages.
#pragma once

#include <linux/netlink.h>

#include <optional>

#include "controller/link_layer.h"

namespace hostsweep::controller {

// The entry an RTM_NEWNEIGH message holds, if it is a usable (resolved) IPv4
// entry with an Ethernet address; malformed messages give nothing.
std::optional<NeighbourEntry> NeighbourEntryOf(const nlmsghdr& header);

}  // namespace hostsweep::controller
