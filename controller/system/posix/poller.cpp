#include <poll.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "controller/base/errors.h"
#include "controller/system/event_loop.h"

namespace hostsweep::controller {
namespace {

class PosixPoller : public Poller {
 public:
  void Wait(std::span<PollEntry> entries, Clock::duration timeout) override {
    fds_.clear();
    for (const PollEntry& entry : entries) {
      fds_.push_back({entry.descriptor, Events(entry.interest), 0});
    }
    if (poll(fds_.data(), fds_.size(), Milliseconds(timeout)) < 0) {
      if (errno == EINTR) {
        return;
      }
      throw SystemError(std::string("cannot wait for events: ") + std::strerror(errno));
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
      entries[i].ready = ReadyOf(fds_[i].revents);
    }
  }

 private:
  static short Events(unsigned interest) {
    return static_cast<short>(((interest & kReadable) != 0 ? POLLIN : 0) |
                              ((interest & kWritable) != 0 ? POLLOUT : 0));
  }
  static unsigned ReadyOf(short events) {
    return ((events & POLLIN) != 0 ? kReadable : 0U) | ((events & POLLOUT) != 0 ? kWritable : 0U) |
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

  std::vector<pollfd> fds_;
};

}  // namespace

std::unique_ptr<Poller> MakePoller() { return std::make_unique<PosixPoller>(); }

}  // namespace hostsweep::controller
