// Windows: WSAPoll, which watches sockets alone (the reply windows' messages
// and the job objects' notices are not descriptors; the worker host looks at
// them from a timer).
#include <winsock2.h>

#include <string>

#include "controller/base/errors.h"
#include "controller/system/event_loop.h"
#include "controller/system/win/winsock_session.h"

namespace hostsweep::controller {
namespace {

constexpr PollBits kBits{POLLRDNORM, POLLWRNORM, POLLERR | POLLHUP | POLLNVAL};

class WinPoller : public Poller {
 public:
  void Wait(std::span<PollEntry> entries, int timeoutMs) override {
    // WSAPoll refuses an empty set.
    if (entries.empty()) {
      ::Sleep(timeoutMs == kForever ? INFINITE : static_cast<DWORD>(timeoutMs));
      return;
    }
    fds_.clear();
    for (const PollEntry& entry : entries) {
      fds_.push_back({static_cast<SOCKET>(entry.descriptor), PollEvents(entry.interest, kBits), 0});
    }
    if (::WSAPoll(fds_.data(), static_cast<ULONG>(fds_.size()), timeoutMs) == SOCKET_ERROR) {
      throw SystemError("cannot wait for events: error " + std::to_string(::WSAGetLastError()));
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
      entries[i].ready = ReadinessOf(fds_[i].revents, kBits);
    }
  }

 private:
  WinsockSession session_;
  std::vector<WSAPOLLFD> fds_;
};

}  // namespace

std::unique_ptr<Poller> MakePoller() { return std::make_unique<WinPoller>(); }

}  // namespace hostsweep::controller
