// Windows Sockets, started for as long as an owner needs them: each start is
// counted by the system and undone by its own cleanup.
#pragma once

namespace hostsweep::controller {

class WinsockSession {
 public:
  // Throws SystemError when Windows Sockets cannot start.
  WinsockSession();
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  ~WinsockSession();
};

}  // namespace hostsweep::controller
