// The IPv4 networks of the machine's interfaces, from getifaddrs.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>

#include "controller/errors.h"
#include "controller/local_networks.h"

namespace hostsweep::controller {
namespace {

Address AddressOf(const sockaddr* address) {
  return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

}  // namespace

std::vector<InterfaceNetwork> ReadInterfaceNetworks() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    throw SystemError(std::string("cannot list the network interfaces: ") + std::strerror(errno));
  }
  const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, freeifaddrs);
  std::vector<InterfaceNetwork> networks;
  for (const ifaddrs* item = list; item != nullptr; item = item->ifa_next) {
    if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_INET ||
        item->ifa_netmask == nullptr || (item->ifa_flags & IFF_UP) == 0 ||
        (item->ifa_flags & IFF_LOOPBACK) != 0) {
      continue;
    }
    InterfaceNetwork network{.interfaceName = item->ifa_name,
                             .address = AddressOf(item->ifa_addr),
                             .prefixLength = std::popcount(AddressOf(item->ifa_netmask))};
    if ((item->ifa_flags & IFF_POINTOPOINT) != 0 && item->ifa_dstaddr != nullptr) {
      network.peer = AddressOf(item->ifa_dstaddr);
    }
    networks.push_back(network);
  }
  return networks;
}

}  // namespace hostsweep::controller
