// Windows: WSAPoll, which watches sockets alone (the reply windows' messages
// and the job objects' notices are not descriptors; the worker host looks at
// them from a timer).
#include <windows.h>
#include <winsock2.h>

#include <climits>
#include <string>

#include "controller/base/errors.h"
#include "controller/system/event_loop.h"
#include "controller/system/win/winsock_session.h"

namespace hostsweep::controller {
namespace {

class WinPoller : public Poller {
 public:
  void Wait(std::span<PollEntry> entries, Clock::duration timeout) override {
    const int milliseconds = Milliseconds(timeout);
    // WSAPoll refuses an empty set.
    if (entries.empty()) {
      ::Sleep(milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds));
      return;
    }
    fds_.clear();
    for (const PollEntry& entry : entries) {
      fds_.push_back({static_cast<SOCKET>(entry.descriptor), Events(entry.interest), 0});
    }
    if (::WSAPoll(fds_.data(), static_cast<ULONG>(fds_.size()), milliseconds) == SOCKET_ERROR) {
      throw SystemError("cannot wait for events: error " + std::to_string(::WSAGetLastError()));
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
      entries[i].ready = ReadyOf(fds_[i].revents);
    }
  }

 private:
  static SHORT Events(unsigned interest) {
    return static_cast<SHORT>(((interest & kReadable) != 0 ? POLLRDNORM : 0) |
                              ((interest & kWritable) != 0 ? POLLWRNORM : 0));
  }
  static unsigned ReadyOf(SHORT events) {
    return ((events & POLLRDNORM) != 0 ? kReadable : 0U) |
           ((events & POLLWRNORM) != 0 ? kWritable : 0U) |
           ((events & (POLLERR | POLLHUP | POLLNVAL)) != 0 ? kFailed : 0U);
  }
  // Rounded up, so that a timer is never woken for a moment early and spun on.
  static int Milliseconds(Clock::duration timeout) {
    if (timeout == Clock::duration::max()) {
      return -1;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
  }

  WinsockSession session_;
  std::vector<WSAPOLLFD> fds_;
};

}  // namespace

std::unique_ptr<Poller> MakePoller() { return std::make_unique<WinPoller>(); }

}  // namespace hostsweep::controller
