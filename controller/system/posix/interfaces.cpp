#include "controller/system/posix/interfaces.h"

#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>

#include "controller/system/posix/route_dump.h"

namespace hostsweep::controller {
namespace {

struct UsableLink {
  std::string name;
  std::optional<MacAddress> mac;
};

// One link's name and Ethernet address, if it is up and not a loopback.
std::optional<UsableLink> UsableLinkOf(const nlmsghdr& header) {
  if (header.nlmsg_type != RTM_NEWLINK || header.nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
    return std::nullopt;
  }
  const auto* link = static_cast<const ifinfomsg*>(NLMSG_DATA(&header));
  if ((link->ifi_flags & IFF_UP) == 0 || (link->ifi_flags & IFF_LOOPBACK) != 0) {
    return std::nullopt;
  }
  UsableLink usable;
  ForEachAttribute(header, sizeof(ifinfomsg),
                   [&](unsigned short type, const unsigned char* data, std::size_t size) {
                     if (type == IFLA_IFNAME) {
                       usable.name.assign(reinterpret_cast<const char*>(data),
                                          strnlen(reinterpret_cast<const char*>(data), size));
                     } else if (type == IFLA_ADDRESS && link->ifi_type == ARPHRD_ETHER &&
                                size == MacAddress{}.size()) {
                       usable.mac.emplace();
                       std::copy_n(data, size, usable.mac->begin());
                     }
                   });
  return usable;
}

}  // namespace

std::vector<InterfaceNetwork> InterfaceNetworksFrom(const std::vector<const nlmsghdr*>& links,
                                                    const std::vector<const nlmsghdr*>& addresses) {
  std::unordered_map<int, UsableLink> usable;
  for (const nlmsghdr* header : links) {
    if (auto link = UsableLinkOf(*header)) {
      usable.emplace(static_cast<const ifinfomsg*>(NLMSG_DATA(header))->ifi_index,
                     std::move(*link));
    }
  }
  std::vector<InterfaceNetwork> networks;
  for (const nlmsghdr* header : addresses) {
    if (header->nlmsg_type != RTM_NEWADDR || header->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) {
      continue;
    }
    const auto* message = static_cast<const ifaddrmsg*>(NLMSG_DATA(header));
    const auto link = usable.find(static_cast<int>(message->ifa_index));
    if (message->ifa_family != AF_INET || link == usable.end()) {
      continue;
    }
    std::optional<Address> local;
    std::optional<Address> prefixAddress;
    ForEachAttribute(*header, sizeof(ifaddrmsg),
                     [&](unsigned short type, const unsigned char* data, std::size_t size) {
                       if (type == IFA_LOCAL) {
                         local = Ipv4Of(data, size);
                       } else if (type == IFA_ADDRESS) {
                         prefixAddress = Ipv4Of(data, size);
                       }
                     });
    if (!local && !prefixAddress) {
      continue;
    }
    // Without a peer the kernel sends IFA_ADDRESS alone or equal to IFA_LOCAL.
    InterfaceNetwork network{.interfaceName = link->second.name,
                             .address = local.value_or(*prefixAddress),
                             .prefixLength = message->ifa_prefixlen,
                             .mac = link->second.mac};
    if (local && prefixAddress && *local != *prefixAddress) {
      network.peer = prefixAddress;
    }
    networks.push_back(network);
  }
  return networks;
}

std::vector<InterfaceNetwork> ReadInterfaceNetworks() {
  // Each message is kept whole until both lists are in.
  std::vector<std::vector<char>> kept;
  std::vector<const nlmsghdr*> links;
  std::vector<const nlmsghdr*> addresses;
  const auto keep = [&kept](std::vector<const nlmsghdr*>& into) {
    return [&kept, &into](const nlmsghdr& header) {
      const auto* bytes = reinterpret_cast<const char*>(&header);
      kept.emplace_back(bytes, bytes + header.nlmsg_len);
      into.push_back(reinterpret_cast<const nlmsghdr*>(kept.back().data()));
    };
  };
  DumpRoute(RTM_GETLINK, "the network interfaces", keep(links));
  DumpRoute(RTM_GETADDR, "the network interfaces' addresses", keep(addresses));
  return InterfaceNetworksFrom(links, addresses);
}

}  // namespace hostsweep::controller
