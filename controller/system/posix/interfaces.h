// The IPv4 networks of the machine's interfaces, from rtnetlink's lists of
// links and addresses.
#pragma once

#include <linux/netlink.h>

#include <vector>

#include "controller/system/interfaces.h"

namespace hostsweep::controller {

// The networks of the addresses in `addresses` (RTM_NEWADDR messages) whose
// link in `links` (RTM_NEWLINK messages) is up and not a loopback. An address
// with a peer (its local and its prefix address differ: a point-to-point
// link) is connected to its peer's prefix, not its own address's.
std::vector<InterfaceNetwork> InterfaceNetworksFrom(const std::vector<const nlmsghdr*>& links,
                                                    const std::vector<const nlmsghdr*>& addresses);

}  // namespace hostsweep::controller
