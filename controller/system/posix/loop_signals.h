// Signals as the event loop's events: they are blocked, so that they stay
// pending until read, and read from a descriptor the loop watches.
#pragma once

#include <csignal>
#include <functional>

#include "common/posix/file_descriptor.h"
#include "controller/system/event_loop.h"

namespace hostsweep::controller {

class LoopSignals {
 public:
  using Handler = std::function<void(int signal)>;

  // Throws SystemError when the signals cannot be blocked or read.
  LoopSignals(EventLoop& loop, const sigset_t& signals, Handler handler);
  // They stay blocked: one that comes later waits for whoever reads next.
  ~LoopSignals();
  LoopSignals(const LoopSignals&) = delete;
  LoopSignals& operator=(const LoopSignals&) = delete;

  // Reads every pending signal at once, without waiting for the loop.
  void ReadPending();

 private:
  EventLoop& loop_;
  FileDescriptor fd_;
  Handler handler_;
};

}  // namespace hostsweep::controller
