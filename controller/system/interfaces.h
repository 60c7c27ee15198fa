// The machine's IPv4 interfaces: one platform half each.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "controller/base/address.h"
#include "controller/base/mac_address.h"

namespace hostsweep::controller {

struct InterfaceNetwork {
  std::string interfaceName;
  Address address = 0;
  int prefixLength = 0;
  // The far end of a point-to-point link; the network is its prefix.
  std::optional<Address> peer{};
  std::optional<MacAddress> mac{};  // an Ethernet (or Wi-Fi) interface's own
};

// The IPv4 addresses of every interface that is up and not a loopback.
// One platform half each; throws SystemError.
std::vector<InterfaceNetwork> ReadInterfaceNetworks();

}  // namespace hostsweep::controller
