#include "controller/system/posix/worker_chains.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "controller/base/errors.h"
#include "controller/system/posix/guarded_spawn.h"

namespace hostsweep::controller {
namespace {

// A line of a worker's standard error longer than this is cut.
constexpr std::size_t kMostLine = 1024;
// How much of one chain's standard error is read per turn of the sweep's
// loop: a worker that writes without pause must not keep the controller from
// its deadlines, its other chains and an interruption.
constexpr std::size_t kErrorSlice = 4096;
// What an ended chain can have left in its pipe: the pipe's usual capacity.
constexpr std::size_t kErrorRest = 65536;
constexpr std::chrono::milliseconds kReapPoll{10};
constexpr std::chrono::seconds kMostReapWait{5};

std::string SystemText(int error) { return std::strerror(error); }

// A start refused for want of processes, descriptors or memory may succeed
// later, with fewer chains running; any other refusal never will.
[[noreturn]] void RefuseStart(const std::string& what, int error) {
  const std::string text = what + ": " + SystemText(error);
  if (error == EAGAIN || error == EMFILE || error == ENFILE || error == ENOMEM) {
    throw WorkerShortage(text);
  }
  throw SystemError(text);
}

// Each running chain holds a pipe, and a connection while it reports: a
// thousand chains at once need more descriptors than the usual soft limit.
void RaiseDescriptorLimit() {
  rlimit descriptors{};
  if (getrlimit(RLIMIT_NOFILE, &descriptors) == 0 && descriptors.rlim_cur < descriptors.rlim_max) {
    descriptors.rlim_cur = descriptors.rlim_max;
    setrlimit(RLIMIT_NOFILE, &descriptors);
  }
}

void ReapAvailable() {
  int status = 0;
  while (waitpid(-1, &status, WNOHANG) > 0) {
  }
}

}  // namespace

WorkerChains::WorkerChains(EventLoop& loop, WorkerFile worker)
    : loop_(loop), worker_(std::move(worker)) {
  if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
    throw SystemError("cannot adopt the workers' successors: " + SystemText(errno));
  }
  RaiseDescriptorLimit();
}

WorkerChains::~WorkerChains() { KillAndReapAll(); }

void WorkerChains::Start(BatchId batch, const std::string& requestLine) {
  std::array<int, 2> pipe{};
  if (pipe2(pipe.data(), O_CLOEXEC) != 0) {
    RefuseStart("cannot start a worker", errno);
  }
  FileDescriptor readEnd(pipe[0]);
  const FileDescriptor writeEnd(pipe[1]);
  fcntl(readEnd.Get(), F_SETFL, O_NONBLOCK);
  // No shell: the request line is the worker's one argument, whatever it holds.
  const auto started = SpawnGuarded(worker_.Descriptor(), worker_.Path(), requestLine,
                                    writeEnd.Get(), guardian_.Commands());
  if (started.error != 0) {
    if (started.pid > 0) {
      guardian_.Forget(started.pid);  // it told the guardian, then could not run the worker
    }
    RefuseStart("cannot start the worker " + worker_.Path(), started.error);
  }
  const pid_t worker = started.pid;
  loop_.Watch(readEnd.Get(), kReadable, [this, batch](unsigned /*ready*/) {
    for (auto& chain : chains_) {
      if (chain.batch == batch) {
        ReadErrors(chain, kErrorSlice);
      }
    }
  });
  chains_.push_back({batch, worker, std::move(readEnd), {}});
}

void WorkerChains::Report(MessageHandler message, EndHandler ended) {
  message_ = std::move(message);
  ended_ = std::move(ended);
}

void WorkerChains::Stop(BatchId batch) {
  for (const auto& chain : chains_) {
    if (chain.batch == batch) {
      kill(-chain.group, SIGKILL);
    }
  }
}

std::optional<BatchId> WorkerChains::BatchOf(pid_t pid) const {
  const pid_t group = getpgid(pid);
  for (const auto& chain : chains_) {
    if (chain.group == group) {
      return chain.batch;
    }
  }
  return std::nullopt;
}

void WorkerChains::ReapEnded() {
  ReapAvailable();
  // Every process of a group is reaped here or by a parent in the group, so
  // a group id cannot be reused while its chain is being watched.
  std::erase_if(chains_, [&](Chain& chain) {
    if (kill(-chain.group, 0) == 0 || errno != ESRCH) {
      return false;
    }
    guardian_.Forget(chain.group);
    if (chain.errors.Valid()) {
      ReadErrors(chain, kErrorRest);
      loop_.Unwatch(chain.errors.Get());
    }
    if (!chain.partialLine.empty()) {
      message_(chain.batch, chain.partialLine);
    }
    ended_(chain.batch);
    return true;
  });
}

void WorkerChains::ReadErrors(Chain& chain, std::size_t most) {
  std::array<char, kErrorSlice> buffer{};
  for (std::size_t taken = 0; taken < most;) {
    const ssize_t size =
        read(chain.errors.Get(), buffer.data(), std::min(buffer.size(), most - taken));
    if (size < 0 && errno == EINTR) {
      continue;
    }
    if (size <= 0) {
      if (size == 0) {
        // Every process of the chain has closed it.
        loop_.Unwatch(chain.errors.Get());
        chain.errors.Close();
      }
      return;
    }
    taken += static_cast<std::size_t>(size);
    for (const char c : std::string_view(buffer.data(), static_cast<std::size_t>(size))) {
      if (c == '\n') {
        message_(chain.batch, chain.partialLine);
        chain.partialLine.clear();
      } else if (chain.partialLine.size() < kMostLine) {
        chain.partialLine += c;
      }
    }
  }
}

void WorkerChains::KillAndReapAll() {
  for (const auto& chain : chains_) {
    kill(-chain.group, SIGKILL);
    if (chain.errors.Valid()) {
      loop_.Unwatch(chain.errors.Get());
    }
  }
  const auto giveUp = std::chrono::steady_clock::now() + kMostReapWait;
  std::erase_if(chains_, [&](const Chain& chain) {
    for (;;) {
      ReapAvailable();
      if (kill(-chain.group, 0) != 0 && errno == ESRCH) {
        guardian_.Forget(chain.group);
        return true;
      }
      // Left to the guardian, which kills it once more as the controller ends.
      if (std::chrono::steady_clock::now() >= giveUp) {
        return true;
      }
      std::this_thread::sleep_for(kReapPoll);
    }
  });
  ReapAvailable();
}

}  // namespace hostsweep::controller
