// The controller's one event loop: a source that waits (the workers'
// reports, the link socket, signals, the next sweep of --watch, the events'
// retries, and every asker's sockets and retries) registers with it, and the loop alone waits, for
// the first timer due or the first descriptor ready. One monotonic clock, one timer heap.
//
// The loop is the same everywhere; what waits for the descriptors is one
// half per platform (posix/: poll; win/: WSAPoll, sockets only). Callbacks
// run on the loop's thread, one at a time, and may add or remove watches and
// timers, their own included.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <queue>
#include <span>
#include <vector>

namespace hostsweep::controller {

#ifdef _WIN32
using Descriptor = std::uintptr_t;  // a SOCKET
#else
using Descriptor = int;
#endif

// What a descriptor is watched for, and what it is found to be.
enum Readiness : unsigned {
  kReadable = 1U,
  kWritable = 2U,
  kFailed = 4U,  // an error or a hang-up: always reported, never asked for
};

struct PollEntry {
  Descriptor descriptor;
  unsigned interest;  // Readiness bits
  unsigned ready;     // set by the wait
};

// The poll() family's event bits, named alike on every platform but for
// their values, and the readiness they stand for.
struct PollBits {
  short readable;
  short writable;
  short failed;
};
short PollEvents(unsigned interest, const PollBits& bits);
unsigned ReadinessOf(short events, const PollBits& bits);

// What waits: the platform's half, or a test's fake with a clock of its own.
class Poller {
 public:
  using Clock = std::chrono::steady_clock;
  // No time limit.
  static constexpr int kForever = -1;

  virtual ~Poller() = default;
  [[nodiscard]] virtual Clock::time_point Now() const { return Clock::now(); }
  // Waits until one of `entries` is ready or `timeoutMs` milliseconds have
  // passed (kForever: no time limit), and sets their `ready`. A wait a signal
  // cuts short returns with nothing ready. Throws SystemError.
  virtual void Wait(std::span<PollEntry> entries, int timeoutMs) = 0;
};

// The platform's poller.
std::unique_ptr<Poller> MakePoller();

class EventLoop {
 public:
  using Clock = Poller::Clock;
  using TimerId = std::uint64_t;
  using TimerCallback = std::function<void()>;
  using WatchCallback = std::function<void(unsigned ready)>;

  explicit EventLoop(std::unique_ptr<Poller> poller = MakePoller());

  [[nodiscard]] Clock::time_point Now() const { return poller_->Now(); }
  // Counts the turns: tells a callback the first of its turn from the others.
  [[nodiscard]] std::uint64_t Turn() const { return turn_; }

  // Calls `callback` once, at `when` or at the first turn after it; timers
  // due at the same time run in the order they were added.
  TimerId At(Clock::time_point when, TimerCallback callback);
  TimerId After(Clock::duration delay, TimerCallback callback) {
    return At(Now() + delay, std::move(callback));
  }
  // A timer that has run or was cancelled is left alone.
  void Cancel(TimerId timer);

  // Calls `callback` whenever `descriptor` is ready for `interest` (Readiness
  // bits) or failed, until Unwatch; a second Watch of it replaces the first.
  void Watch(Descriptor descriptor, unsigned interest, WatchCallback callback);
  void Unwatch(Descriptor descriptor);

  // Waits for the first timer due, a watched descriptor, or `most`, and runs
  // the callbacks of what came: the descriptors' first, then the timers due.
  void RunOnce(Clock::duration most = Clock::duration::max());
  // Runs turns until Stop is called.
  void Run();
  // Ends Run once the current turn's callbacks have run; a later Run runs again.
  void Stop() { stopped_ = true; }

 private:
  struct Timer {
    Clock::time_point when;
    TimerId id;
    bool operator>(const Timer& other) const {
      return when != other.when ? when > other.when : id > other.id;
    }
  };
  struct WatchEntry {
    unsigned interest;
    std::uint64_t generation;  // tells a watch from one that replaced it
    std::shared_ptr<WatchCallback> callback;
  };

  [[nodiscard]] Clock::duration TimeToNextTimer(Clock::duration most);
  void RunDueTimers();

  std::unique_ptr<Poller> poller_;
  std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers_;
  std::map<TimerId, TimerCallback> pending_;  // the timers neither run nor cancelled
  TimerId nextTimer_ = 1;
  std::map<Descriptor, WatchEntry> watches_;
  std::uint64_t nextGeneration_ = 1;
  std::vector<PollEntry> entries_;
  std::vector<std::uint64_t> generations_;  // of the watches, as entries_
  bool stopped_ = false;
  std::uint64_t turn_ = 0;
};

}  // namespace hostsweep::controller
