#include "controller/system/posix/platform_worker_host.h"

#include <sys/signalfd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "controller/base/errors.h"

namespace hostsweep::controller {
namespace {

constexpr std::array kInterruptions{SIGINT, SIGTERM, SIGHUP};

// The process's one worker host has read an interruption (a signal read is
// gone from the pending ones).
bool interruptionRead = false;

// The signals are blocked and read from a descriptor, so that they wake the
// same wait as the reports do.
int OpenSignals() {
  // A reader that closes the pipe early ends the output, not the controller.
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t signals = InterruptSignals();
  sigaddset(&signals, SIGCHLD);
  if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
    throw SystemError(std::string("cannot block signals: ") + std::strerror(errno));
  }
  const int fd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (fd < 0) {
    throw SystemError(std::string("cannot receive signals: ") + std::strerror(errno));
  }
  return fd;
}

}  // namespace

sigset_t InterruptSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : kInterruptions) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
      sigaddset(&signals, signal);
    }
  }
  return signals;
}

PlatformWorkerHost::PlatformWorkerHost(WorkerFile worker)
    : signals_(OpenSignals()), chains_(std::move(worker)) {}

PlatformWorkerHost::~PlatformWorkerHost() = default;

void PlatformWorkerHost::Start(BatchId batch, const std::string& requestLine) {
  chains_.Start(batch, requestLine);
}

void PlatformWorkerHost::Stop(BatchId batch) { chains_.Stop(batch); }

void PlatformWorkerHost::Wait(std::chrono::milliseconds timeout, SweepEvents& events) {
  PollSet set;
  set.Add(signals_.Get());
  receiver_.Watch(set);
  chains_.Watch(set);
  if (!set.Wait(timeout)) {
    return;
  }
  const auto message = [&events](BatchId batch, const std::string& line) {
    events.OnWorkerMessage(batch, line);
  };
  if (set.Events(signals_.Get()) != 0) {
    ReadSignals();
  }
  receiver_.Serve(set, [&](pid_t sender, const std::string& text) {
    events.OnReport(chains_.BatchOf(sender), text);
  });
  chains_.Serve(set, message);
  // After the reports: a worker ends only once its reports are answered.
  chains_.ReapEnded([&events](BatchId batch) { events.OnChainEnded(batch); }, message);
}

bool InterruptionRead() { return interruptionRead; }

bool PlatformWorkerHost::Interrupted() const {
  if (interruptionRead) {
    return true;
  }
  // Only blocked signals are left pending; an ignored one never is.
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  return std::ranges::any_of(kInterruptions,
                             [&pending](int signal) { return sigismember(&pending, signal) == 1; });
}

void PlatformWorkerHost::ReadSignals() {
  signalfd_siginfo info{};
  while (read(signals_.Get(), &info, sizeof info) == sizeof info) {
    if (info.ssi_signo != SIGCHLD) {
      interruptionRead = true;
    }
  }
}

}  // namespace hostsweep::controller
