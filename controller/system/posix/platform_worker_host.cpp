#include "controller/system/posix/platform_worker_host.h"

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

// Children's ends, and the interruptions, as the loop's events.
sigset_t HostSignals() {
  // A reader that closes the pipe early ends the output, not the controller.
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t signals = InterruptSignals();
  sigaddset(&signals, SIGCHLD);
  return signals;
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

PlatformWorkerHost::PlatformWorkerHost(EventLoop& loop, WorkerFile worker)
    : loop_(loop),
      receiver_(loop),
      chains_(loop, std::move(worker)),
      signals_(loop, HostSignals(), [this](int signal) { OnSignal(signal); }) {}

PlatformWorkerHost::~PlatformWorkerHost() {
  if (reaping_) {
    loop_.Cancel(*reaping_);
  }
}

void PlatformWorkerHost::Start(BatchId batch, const std::string& requestLine) {
  chains_.Start(batch, requestLine);
}

void PlatformWorkerHost::Stop(BatchId batch) { chains_.Stop(batch); }

void PlatformWorkerHost::Serve(SweepEvents& events) {
  receiver_.Serve([this, &events](pid_t sender, const std::string& text) {
    events.OnReport(chains_.BatchOf(sender), text);
  });
  chains_.Report(
      [&events](BatchId batch, const std::string& line) { events.OnWorkerMessage(batch, line); },
      [&events](BatchId batch) { events.OnChainEnded(batch); });
}

void PlatformWorkerHost::OnSignal(int signal) {
  if (signal != SIGCHLD) {
    interruptionRead = true;
    return;
  }
  // Due at once: it runs after the turn's descriptors, the reports among them.
  if (!reaping_) {
    reaping_ = loop_.After(std::chrono::milliseconds{0}, [this] {
      reaping_.reset();
      chains_.ReapEnded();
    });
  }
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

}  // namespace hostsweep::controller
