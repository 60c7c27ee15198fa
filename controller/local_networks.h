// --localnet: the IPv4 networks this machine is directly connected to.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "controller/targets.h"

namespace hostsweep::controller {

struct InterfaceNetwork {
  std::string interfaceName;
  Address address = 0;
  int prefixLength = 0;
  // The far end of a point-to-point link; the network is its prefix.
  std::optional<Address> peer{};
};

// The IPv4 addresses of every interface that is up and not a loopback.
// One platform half each; throws SystemError.
std::vector<InterfaceNetwork> ReadInterfaceNetworks();

// One target per distinct network ("10.0.0.0/24"; a point-to-point link's
// peer's prefix, the peer alone for a /32). Throws UsageError naming a network larger than a sweep
// may be.
std::vector<std::string> LocalNetworkTargets(const std::vector<InterfaceNetwork>& networks);

}  // namespace hostsweep::controller
