// A child process that ends the worker chains should the controller itself be
// ended outright (SIGKILL, the out-of-memory killer), which no code of the
// controller survives. It hears of each chain's process group through a
// pipe, from the chain's first process itself before it runs the worker;
// when the pipe's far end closes, the controller has gone, and it kills every
// group it still knows of. A parent-death signal would not do: a successor's
// parent is the worker before it, not the controller, and the signal is not
// passed on to the processes a worker starts.
#pragma once

#include <sys/types.h>

#include "common/posix/file_descriptor.h"

namespace hostsweep::controller {

class ChainGuardian {
 public:
  // Throws SystemError when the guardian cannot be started.
  ChainGuardian();
  // Closing the pipe ends the guardian, after it has killed the groups it was
  // not told to forget.
  ~ChainGuardian() = default;
  ChainGuardian(const ChainGuardian&) = delete;
  ChainGuardian& operator=(const ChainGuardian&) = delete;
  ChainGuardian(ChainGuardian&&) = delete;
  ChainGuardian& operator=(ChainGuardian&&) = delete;

  // Where a process announces its own new group (its pid_t, native byte
  // order, in one write), before it runs anything the guardian must end.
  [[nodiscard]] int Commands() const { return commands_.Get(); }
  // Said once the group is empty, so that its id, free again, is never killed.
  void Forget(pid_t group);

 private:
  void Send(pid_t value);

  FileDescriptor commands_;
};

}  // namespace hostsweep::controller
