// Windows Sockets 1.1, from wsock32.
#include "platform/os.h"

namespace hostsweep::os {

ULONG inet_addr(const char* text) { return ::inet_addr(text); }

int WSAStartup(WORD version, WSADATA* data) { return ::WSAStartup(version, data); }

int WSACleanup() { return ::WSACleanup(); }

hostent* gethostbyaddr(const char* address, int length, int type) {
  return ::gethostbyaddr(address, length, type);
}

}  // namespace hostsweep::os
