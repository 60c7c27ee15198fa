#include "controller/system/interruptions.h"

#include "controller/system/posix/loop_signals.h"
#include "controller/system/posix/platform_worker_host.h"

namespace hostsweep::controller {

// The interruptions stay blocked from the first sweep on, pending until read.
struct Interruptions::Source {
  Source(EventLoop& loop, std::function<void()> interrupted)
      : signals(loop, InterruptSignals(),
                [interrupted = std::move(interrupted)](int /*signal*/) { interrupted(); }) {}
  LoopSignals signals;
};

Interruptions::Interruptions(EventLoop& loop, std::function<void()> interrupted)
    : source_(std::make_unique<Source>(loop, std::move(interrupted))) {}

Interruptions::~Interruptions() = default;

}  // namespace hostsweep::controller
