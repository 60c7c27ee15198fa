// The socket library: address conversion and reverse lookups through the
// system resolver.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstring>

#include "platform/os.h"

namespace hostsweep::os {
namespace {

// Starts not yet released; tests look at it to check that starts and releases
// pair up.
int startCount = 0;

// Like the socket library's own host entry, valid until the thread's next lookup.
struct HostEntryStorage {
  std::array<char, NI_MAXHOST> name{};
  in_addr_t address = 0;
  std::array<char*, 1> aliases{};
  std::array<char*, 2> addresses{};
  hostent entry{};
};
thread_local HostEntryStorage lookup;

}  // namespace

ULONG inet_addr(const char* text) { return ::inet_addr(text); }

int WSAStartup(WORD version, WSADATA* data) {
  if (data != nullptr) {
    std::memset(data, 0, sizeof *data);
    data->wVersion = version;
    data->wHighVersion = 0x0202;
  }
  ++startCount;
  return 0;
}

int WSACleanup() {
  if (startCount == 0) {
    return SOCKET_ERROR;
  }
  --startCount;
  return 0;
}

hostent* gethostbyaddr(const char* address, int length, int type) {
  if (address == nullptr || length != sizeof(in_addr_t) || type != AF_INET) {
    return nullptr;
  }
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  std::memcpy(&peer.sin_addr, address, sizeof peer.sin_addr);
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, lookup.name.data(),
                    lookup.name.size(), nullptr, 0, NI_NAMEREQD) != 0) {
    return nullptr;
  }
  std::memcpy(&lookup.address, address, sizeof lookup.address);
  lookup.addresses = {reinterpret_cast<char*>(&lookup.address), nullptr};
  lookup.entry = hostent{lookup.name.data(), lookup.aliases.data(), AF_INET,
                         static_cast<short>(sizeof lookup.address), lookup.addresses.data()};
  return &lookup.entry;
}

}  // namespace hostsweep::os
