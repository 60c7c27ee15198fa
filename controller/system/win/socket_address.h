// An IPv4 address and port as the Winsock calls take them.
#pragma once

#include <winsock2.h>

#include <cstdint>

#include "controller/base/address.h"

namespace hostsweep::controller {

inline sockaddr_in SocketAddress(Address address, std::uint16_t port) {
  sockaddr_in socketAddress{};
  socketAddress.sin_family = AF_INET;
  socketAddress.sin_port = ::htons(port);
  socketAddress.sin_addr.s_addr = ::htonl(address);
  return socketAddress;
}

}  // namespace hostsweep::controller
