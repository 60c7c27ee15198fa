#include "controller/system/posix/loop_wake.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "controller/base/errors.h"

namespace hostsweep::controller {

LoopWake::LoopWake(EventLoop& loop, std::function<void()> woken)
    : loop_(loop),
      fd_(std::make_shared<FileDescriptor>(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))),
      woken_(std::move(woken)) {
  if (!fd_->Valid()) {
    throw SystemError(std::string("cannot make a wake-up descriptor: ") + std::strerror(errno));
  }
  loop_.Watch(fd_->Get(), kReadable, [this](unsigned /*ready*/) {
    std::uint64_t raised = 0;
    if (read(fd_->Get(), &raised, sizeof raised) == sizeof raised) {
      woken_();
    }
  });
}

LoopWake::~LoopWake() { loop_.Unwatch(fd_->Get()); }

std::function<void()> LoopWake::Raiser() const {
  return [fd = fd_] {
    const std::uint64_t one = 1;
    // Only a counter near its limit refuses, and it wakes the loop already.
    if (write(fd->Get(), &one, sizeof one) != sizeof one) {
      return;
    }
  };
}

}  // namespace hostsweep::controller
