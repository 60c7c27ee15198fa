#include "controller/link/vlan_links.h"

#include <algorithm>
#include <charconv>
#include <iterator>

#include "controller/base/errors.h"
#include "controller/link/arp_frame.h"

namespace hostsweep::controller {
namespace {

constexpr int kLongestPrefix = 32;

template <typename Number>
bool ParseWhole(std::string_view text, Number& value) {
  const auto* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc{} && at == end;
}

LinkInterface VlanInterface(const VlanLink& vlan, const std::string& interfaceName,
                            const std::function<LinkInterface(const std::string&)>& portOf) {
  LinkInterface link = portOf(vlan.port.empty() ? interfaceName : vlan.port);
  link.name += "." + std::to_string(vlan.id);
  link.address = vlan.network;
  link.prefixLength = vlan.prefixLength;
  link.vlan = vlan.id;
  return link;
}

}  // namespace

VlanLink ParseVlanLink(std::string_view text) {
  const std::string quoted = "--vlan " + std::string(text) + ": ";
  VlanLink vlan;
  const auto at = text.find('@');
  std::string_view link = text.substr(0, at);
  if (at != std::string_view::npos) {
    const std::string_view network = text.substr(at + 1);
    const auto slash = network.find('/');
    const auto address = ParseAddress(network.substr(0, slash));
    if (slash == std::string_view::npos || !address ||
        !ParseWhole(network.substr(slash + 1), vlan.prefixLength) || vlan.prefixLength < 1 ||
        vlan.prefixLength > kLongestPrefix) {
      throw UsageError(quoted + "the network after @ is NETWORK/LENGTH, as 192.168.10.0/24");
    }
    vlan.network = *address & NetworkMask(vlan.prefixLength);
  }
  const auto dot = link.rfind('.');
  if (dot != std::string_view::npos) {
    vlan.port = std::string(link.substr(0, dot));
    link = link.substr(dot + 1);
  }
  if (!ParseWhole(link, vlan.id) || vlan.id < 1 || vlan.id > kHighestVlan ||
      (dot != std::string_view::npos && vlan.port.empty())) {
    throw UsageError(quoted + "a VLAN is [IF.]ID, ID from 1 to 4094");
  }
  return vlan;
}

std::optional<std::string> VlanLinksClash(const std::vector<VlanLink>& vlans,
                                          const std::string& interfaceName) {
  const bool portless =
      std::any_of(vlans.begin(), vlans.end(), [](const VlanLink& v) { return v.port.empty(); });
  if (portless && interfaceName.empty()) {
    return "--vlan ID needs --interface IF, the trunk port (or IF.ID)";
  }
  const auto everywhere = std::count_if(vlans.begin(), vlans.end(),
                                        [](const VlanLink& v) { return v.prefixLength == 0; });
  if (everywhere > 1) {
    return "--vlan: with several VLANs, all but one name their network (ID@NETWORK/LENGTH)";
  }
  return std::nullopt;
}

std::vector<LinkInterface> VlanInterfaces(
    const std::vector<VlanLink>& vlans, const std::string& interfaceName,
    const std::function<LinkInterface(const std::string&)>& portOf) {
  std::vector<LinkInterface> links;
  links.reserve(vlans.size());
  for (const auto& vlan : vlans) {
    links.push_back(VlanInterface(vlan, interfaceName, portOf));
  }
  return links;
}

std::vector<LinkInterface> WithVlanLinks(std::vector<LinkInterface> onLink,
                                         const std::vector<LinkInterface>& vlanLinks) {
  std::vector<LinkInterface> links;
  std::copy_if(vlanLinks.begin(), vlanLinks.end(), std::back_inserter(links),
               [](const LinkInterface& link) { return link.prefixLength > 0; });
  links.insert(links.end(), onLink.begin(), onLink.end());
  std::copy_if(vlanLinks.begin(), vlanLinks.end(), std::back_inserter(links),
               [](const LinkInterface& link) { return link.prefixLength == 0; });
  return links;
}

}  // namespace hostsweep::controller
