#include "controller/system/posix/loop_signals.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "controller/base/errors.h"

namespace hostsweep::controller {

LoopSignals::LoopSignals(EventLoop& loop, const sigset_t& signals, Handler handler)
    : loop_(loop), handler_(std::move(handler)) {
  if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
    throw SystemError(std::string("cannot block signals: ") + std::strerror(errno));
  }
  fd_ = FileDescriptor(signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!fd_.Valid()) {
    throw SystemError(std::string("cannot receive signals: ") + std::strerror(errno));
  }
  loop_.Watch(fd_.Get(), kReadable, [this](unsigned /*ready*/) { ReadPending(); });
}

LoopSignals::~LoopSignals() { loop_.Unwatch(fd_.Get()); }

void LoopSignals::ReadPending() {
  signalfd_siginfo info{};
  while (read(fd_.Get(), &info, sizeof info) == sizeof info) {
    handler_(static_cast<int>(info.ssi_signo));
  }
}

}  // namespace hostsweep::controller
