// The event loop's waits on a fake clock: `onWait`, when set, decides what a
// wait finds ready and how much time it takes; else time moves on by each
// wait's whole timeout.
#pragma once

#include <chrono>
#include <functional>
#include <span>
#include <stdexcept>

#include "controller/system/event_loop.h"

namespace hostsweep::controller {

class FakePoller : public Poller {
 public:
  [[nodiscard]] Clock::time_point Now() const override { return now; }
  void Wait(std::span<PollEntry> entries, int timeoutMs) override {
    if (timeoutMs == kForever) {
      throw std::logic_error("the loop waits for ever with nothing that can come");
    }
    const std::chrono::milliseconds timeout{timeoutMs};
    if (onWait) {
      onWait(entries, timeout);
      return;
    }
    now += timeout;
  }

  std::function<void(std::span<PollEntry>, std::chrono::milliseconds)> onWait;
  Clock::time_point now{};
};

}  // namespace hostsweep::controller
