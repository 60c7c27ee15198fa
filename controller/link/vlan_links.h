// VLANs reached from a trunk port (--vlan): the link pass asks on each with
// 802.1Q-tagged requests, as it asks on a directly connected network.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "controller/base/address.h"
#include "controller/system/link_socket.h"

namespace hostsweep::controller {

struct VlanLink {
  std::string port;  // the trunk port; empty: --interface's
  std::uint16_t id = 0;
  // The network the VLAN holds; a /0 (no network given): every target that
  // no directly connected network holds.
  Address network = 0;
  int prefixLength = 0;
};

// "[IF.]ID[@NETWORK/LENGTH]"; throws UsageError saying what is wrong.
VlanLink ParseVlanLink(std::string_view text);

// Why `vlans` cannot be swept together (with `interfaceName`, --interface),
// or nothing: each needs a port, and only one may go without its network.
std::optional<std::string> VlanLinksClash(const std::vector<VlanLink>& vlans,
                                          const std::string& interfaceName);

// Each of `vlans` as a link on its trunk port (`interfaceName` where it names
// none), which `portOf` looks up by name (TrunkPort, which throws UsageError).
std::vector<LinkInterface> VlanInterfaces(
    const std::vector<VlanLink>& vlans, const std::string& interfaceName,
    const std::function<LinkInterface(const std::string&)>& portOf);

// The link pass's interfaces: the VLANs of `vlanLinks` that name their network
// first (a network given there is meant there), then the directly connected
// `onLink`, then a VLAN that takes every other address.
std::vector<LinkInterface> WithVlanLinks(std::vector<LinkInterface> onLink,
                                         const std::vector<LinkInterface>& vlanLinks);

}  // namespace hostsweep::controller
