#include "net/name_lookup.h"

#include <array>
#include <cstring>

#include "common/failure.h"
#include "platform/os.h"

namespace hostsweep {
namespace {

constexpr os::WORD kWinsockVersion = 0x0101;

// Releases the socket library on every way out of a lookup, once, and only if
// it started.
class SocketLibrarySession {
 public:
  SocketLibrarySession() : started_(StartSockets()) {}
  SocketLibrarySession(const SocketLibrarySession&) = delete;
  SocketLibrarySession& operator=(const SocketLibrarySession&) = delete;
  ~SocketLibrarySession() {
    if (started_) {
      StopSockets();
    }
  }
  [[nodiscard]] bool started() const { return started_; }

 private:
  bool started_;
};

}  // namespace

bool StartSockets() {
  os::WSADATA data{};
  return os::WSAStartup(kWinsockVersion, &data) == 0;
}

void StopSockets() { os::WSACleanup(); }

std::string LookupHostName(const std::string& address) {
  try {
    const SocketLibrarySession session;
    if (!session.started()) {
      return {};
    }
    const os::ULONG value = os::inet_addr(address.c_str());
    if (value == INADDR_NONE) {
      return {};
    }
    const os::hostent* entry =
        os::gethostbyaddr(reinterpret_cast<const char*>(&value), sizeof value, AF_INET);
    if (entry == nullptr) {
      return {};
    }
    // The entry belongs to the socket library and lasts only until its next
    // call, so the name is copied out before the session ends.
    std::string name(static_cast<std::size_t>(os::lstrlenA(entry->h_name)), '\0');
    os::RtlMoveMemory(name.data(), entry->h_name, name.size());
    return name;
  } catch (const Failure&) {
    return {};
  }
}

}  // namespace hostsweep
