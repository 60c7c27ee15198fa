#include <poll.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "controller/base/errors.h"
#include "controller/system/event_loop.h"

namespace hostsweep::controller {
namespace {

constexpr PollBits kBits{POLLIN, POLLOUT, POLLERR | POLLHUP | POLLNVAL};

class PosixPoller : public Poller {
 public:
  void Wait(std::span<PollEntry> entries, int timeoutMs) override {
    fds_.clear();
    for (const PollEntry& entry : entries) {
      fds_.push_back({entry.descriptor, PollEvents(entry.interest, kBits), 0});
    }
    if (poll(fds_.data(), fds_.size(), timeoutMs) < 0) {
      if (errno == EINTR) {
        return;
      }
      throw SystemError(std::string("cannot wait for events: ") + std::strerror(errno));
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
      entries[i].ready = ReadinessOf(fds_[i].revents, kBits);
    }
  }

 private:
  std::vector<pollfd> fds_;
};

}  // namespace

std::unique_ptr<Poller> MakePoller() { return std::make_unique<PosixPoller>(); }

}  // namespace hostsweep::controller
