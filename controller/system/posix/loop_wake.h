// Another thread's way to wake the event loop, as libuv's async handle: an
// eventfd the loop watches like any other descriptor.
#pragma once

#include <functional>
#include <memory>

#include "common/posix/file_descriptor.h"
#include "controller/system/event_loop.h"

namespace hostsweep::controller {

class LoopWake {
 public:
  // `woken` runs on the loop's thread, once for any number of raises since
  // it last ran. Throws SystemError when no eventfd can be had.
  LoopWake(EventLoop& loop, std::function<void()> woken);
  ~LoopWake();
  LoopWake(const LoopWake&) = delete;
  LoopWake& operator=(const LoopWake&) = delete;

  // Wakes the loop; any thread may call it, even after the LoopWake is gone
  // (a detached thread may outlive whoever waited for it).
  [[nodiscard]] std::function<void()> Raiser() const;

 private:
  EventLoop& loop_;
  std::shared_ptr<FileDescriptor> fd_;
  std::function<void()> woken_;
};

}  // namespace hostsweep::controller
