#include "controller/app/addresses.h"

#include <iostream>
#include <string>

#include "controller/base/errors.h"
#include "controller/system/interfaces.h"
#include "controller/targets/local_networks.h"
#include "controller/targets/targets.h"

namespace hostsweep::controller {
namespace {

// The networks --localnet names (--interface's alone), each shown on standard error.
std::vector<std::string> LocalTargets(const std::vector<InterfaceNetwork>& networks) {
  auto targets = LocalNetworkTargets(networks);
  if (targets.empty()) {
    std::cerr << "hostsweep: --localnet: no interface is up with an IPv4 network\n";
  }
  for (const auto& target : targets) {
    std::cerr << "hostsweep: --localnet: sweeping " << target << "\n";
  }
  return targets;
}

}  // namespace

std::vector<Address> CollectAddresses(const Options& options, bool inputClosed) {
  std::vector<InterfaceNetwork> networks;
  // A trunk port (--vlan) needs no network of its own.
  const bool interfaceNetworks =
      !options.interfaceName.empty() && (options.vlans.empty() || options.localNetworks);
  if (options.localNetworks || interfaceNetworks) {
    networks = ReadInterfaceNetworks();
  }
  if (interfaceNetworks) {
    networks = NetworksOf(std::move(networks), options.interfaceName);
  }
  std::vector<std::string> targets =
      options.localNetworks ? LocalTargets(networks) : std::vector<std::string>{};
  for (const auto& [text, isFile] : options.targets) {
    if (!isFile) {
      targets.push_back(text);
      continue;
    }
    if (text == "-" && inputClosed) {
      throw UsageError("-f -: standard input is closed");
    }
    const auto lines = ReadTargetFile(text);
    targets.insert(targets.end(), lines.begin(), lines.end());
  }
  return ExpandTargets(targets);
}

}  // namespace hostsweep::controller
