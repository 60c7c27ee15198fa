#include "controller/system/win/winsock_session.h"

#include <winsock2.h>

#include "controller/base/errors.h"

namespace hostsweep::controller {

WinsockSession::WinsockSession() {
  WSADATA data{};
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    throw SystemError("cannot start Windows Sockets");
  }
}

WinsockSession::~WinsockSession() { ::WSACleanup(); }

}  // namespace hostsweep::controller
