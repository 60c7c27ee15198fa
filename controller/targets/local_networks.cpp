#include "controller/targets/local_networks.h"

#include <algorithm>
#include <cstdint>

#include "controller/base/errors.h"
#include "controller/base/printable.h"

namespace hostsweep::controller {

std::vector<InterfaceNetwork> NetworksOf(std::vector<InterfaceNetwork> networks,
                                         const std::string& name) {
  std::vector<std::string> names;
  for (const auto& network : networks) {
    if (std::find(names.begin(), names.end(), network.interfaceName) == names.end()) {
      names.push_back(network.interfaceName);
    }
  }
  std::erase_if(networks, [&name](const InterfaceNetwork& n) { return n.interfaceName != name; });
  if (networks.empty()) {
    std::string there = names.empty() ? "none" : names.front();
    for (std::size_t i = 1; i < names.size(); ++i) {
      there += ", " + names[i];
    }
    throw UsageError("--interface " + Excerpt(name) +
                     ": no interface of that name is up with an IPv4 address (there are: " + there +
                     ")");
  }
  return networks;
}

std::vector<std::string> LocalNetworkTargets(const std::vector<InterfaceNetwork>& networks) {
  std::vector<std::string> targets;
  for (const auto& network : networks) {
    // A point-to-point link connects this machine to its peer's prefix.
    const Address base = network.peer.value_or(network.address);
    const int hostBits = kAddressBits - network.prefixLength;
    std::string target = FormatAddress(base & NetworkMask(network.prefixLength)) + "/" +
                         std::to_string(network.prefixLength);
    if (hostBits >= kAddressBits || (std::uint64_t{1} << hostBits) > kMostTargets) {
      throw UsageError("--localnet: " + network.interfaceName + "'s network " + target +
                       " holds more than " + std::to_string(kMostTargets) +
                       " addresses; name the part to sweep as a range or smaller block");
    }
    if (std::find(targets.begin(), targets.end(), target) == targets.end()) {
      targets.push_back(target);
    }
  }
  return targets;
}

}  // namespace hostsweep::controller
