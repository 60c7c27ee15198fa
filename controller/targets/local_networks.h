// --localnet: the IPv4 networks this machine is directly connected to.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "controller/system/interfaces.h"
#include "controller/targets/targets.h"

namespace hostsweep::controller {

// One target per distinct network ("10.0.0.0/24"; a point-to-point link's
// peer's prefix, the peer alone for a /32). Throws UsageError naming a network larger than a sweep
// may be.
std::vector<std::string> LocalNetworkTargets(const std::vector<InterfaceNetwork>& networks);

// --interface: the networks of the interface `name`. Throws UsageError, naming
// the interfaces there are, where no interface of that name is up with an
// IPv4 address.
std::vector<InterfaceNetwork> NetworksOf(std::vector<InterfaceNetwork> networks,
                                         const std::string& name);

}  // namespace hostsweep::controller
