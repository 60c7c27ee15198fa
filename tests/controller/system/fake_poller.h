// The event loop's waits on a fake clock: `onWait`, when set, decides what a
// wait finds ready and how much time it takes; else time moves on by each
// wait's whole timeout.
#pragma once

#include <functional>
#include <span>
#include <stdexcept>

#include "controller/system/event_loop.h"

namespace hostsweep::controller {

class FakePoller : public Poller {
 public:
  [[nodiscard]] Clock::time_point Now() const override { return now; }
  void Wait(std::span<PollEntry> entries, Clock::duration timeout) override {
    if (onWait) {
      onWait(entries, timeout);
      return;
    }
    if (timeout == Clock::duration::max()) {
      throw std::logic_error("the loop waits for ever with nothing that can come");
    }
    now += timeout;
  }

  std::function<void(std::span<PollEntry>, Clock::duration)> onWait;
  Clock::time_point now{};
};

}  // namespace hostsweep::controller
