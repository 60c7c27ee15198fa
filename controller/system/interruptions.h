// The user's request to stop (Ctrl-C, SIGTERM, SIGHUP) as an event of the
// controller's loop, for the waits outside a sweep (whose worker host hears
// them itself). One half per platform.
#pragma once

#include <functional>
#include <memory>

#include "controller/system/event_loop.h"

namespace hostsweep::controller {

class Interruptions {
 public:
  // Calls `interrupted` as the loop turns once the user asks to stop, at the
  // first turn when one is pending already. Throws SystemError.
  Interruptions(EventLoop& loop, std::function<void()> interrupted);
  ~Interruptions();
  Interruptions(const Interruptions&) = delete;
  Interruptions& operator=(const Interruptions&) = delete;

 private:
  struct Source;
  std::unique_ptr<Source> source_;
};

}  // namespace hostsweep::controller
