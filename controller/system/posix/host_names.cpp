#include "controller/system/host_names.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace hostsweep::controller {

HostLookup LookUpHostName(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  // One entry per address instead of one per socket type.
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int error = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);
  switch (error) {
    case 0: {
      sockaddr_in address{};
      std::memcpy(&address, found->ai_addr, sizeof address);
      return {ntohl(address.sin_addr.s_addr), {}};
    }
    case EAI_NONAME:
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      return {std::nullopt, "no IPv4 address is known for this host name"};
    case EAI_AGAIN:
      return {std::nullopt, "the name service did not answer; try again later"};
    case EAI_SYSTEM:
      return {std::nullopt, std::string("cannot look the name up: ") + std::strerror(errno)};
    default:
      return {std::nullopt, std::string("cannot look the name up: ") + ::gai_strerror(error)};
  }
}

}  // namespace hostsweep::controller
