#include "controller/system/host_names.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <memory>

namespace hostsweep::controller {
namespace {

// Winsock started for the program's life: the names are looked up before
// anything else is set up.
bool WinsockStarted() {
  static const bool started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

}  // namespace

HostLookup LookUpHostName(const std::string& name) {
  if (!WinsockStarted()) {
    return {std::nullopt, "cannot start Windows Sockets"};
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int error = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);
  switch (error) {
    case 0: {
      sockaddr_in address{};
      std::memcpy(&address, found->ai_addr, sizeof address);
      return {::ntohl(address.sin_addr.s_addr), {}};
    }
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
      return {std::nullopt, "no IPv4 address is known for this host name"};
    case WSATRY_AGAIN:
      return {std::nullopt, "the name service did not answer; try again later"};
    default:
      return {std::nullopt,
              "cannot look the name up (Windows Sockets error " + std::to_string(error) + ")"};
  }
}

}  // namespace hostsweep::controller
