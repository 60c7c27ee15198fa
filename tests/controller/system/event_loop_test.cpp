#include "controller/system/event_loop.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <string>
#include <thread>
#include <vector>

#include "common/posix/file_descriptor.h"
#include "controller/system/posix/loop_signals.h"
#include "controller/system/posix/loop_wake.h"
#include "tests/controller/system/fake_poller.h"

namespace hostsweep::controller {
namespace {

using std::chrono::milliseconds;

struct FakeLoop {
  FakeLoop() : poller(new FakePoller), loop(std::unique_ptr<Poller>(poller)) {}
  [[nodiscard]] milliseconds Elapsed() const {
    return std::chrono::duration_cast<milliseconds>(poller->now.time_since_epoch());
  }
  FakePoller* poller;
  EventLoop loop;
};

struct TimerCase {
  std::string name;
  std::vector<int> delays;     // ms, by timer
  std::vector<int> cancelled;  // indexes
  std::vector<int> order;      // indexes, as they ran
};

class Timers : public ::testing::TestWithParam<TimerCase> {};

TEST_P(Timers, RunInDueOrderAndNeverOnceCancelled) {
  FakeLoop fake;
  std::vector<int> ran;
  std::vector<milliseconds> at;
  std::vector<EventLoop::TimerId> ids;
  for (std::size_t i = 0; i < GetParam().delays.size(); ++i) {
    ids.push_back(fake.loop.After(milliseconds(GetParam().delays[i]), [&, i] {
      ran.push_back(static_cast<int>(i));
      at.push_back(fake.Elapsed());
    }));
  }
  for (const int index : GetParam().cancelled) {
    fake.loop.Cancel(ids[static_cast<std::size_t>(index)]);
  }
  fake.loop.After(milliseconds(1000), [&] { fake.loop.Stop(); });
  fake.loop.Run();
  EXPECT_EQ(ran, GetParam().order);
  for (std::size_t i = 0; i < ran.size(); ++i) {
    EXPECT_EQ(at[i], milliseconds(GetParam().delays[static_cast<std::size_t>(ran[i])]));
  }
}

INSTANTIATE_TEST_SUITE_P(
    EventLoop, Timers,
    ::testing::Values(TimerCase{"AddedOutOfOrder", {30, 10, 20}, {}, {1, 2, 0}},
                      TimerCase{"SameTimeInTheOrderAdded", {10, 10, 5, 10}, {}, {2, 0, 1, 3}},
                      TimerCase{"CancelledOneSkipped", {10, 20, 30}, {1}, {0, 2}},
                      TimerCase{"AllCancelled", {10, 20}, {0, 1}, {}}),
    [](const auto& info) { return info.param.name; });

TEST(EventLoop, TimerAddedByATimerDueAtOnceWaitsForTheNextTurn) {
  FakeLoop fake;
  int runs = 0;
  std::function<void()> again = [&] {
    if (++runs < 3) {
      fake.loop.After(milliseconds(0), again);
    }
  };
  fake.loop.After(milliseconds(0), again);
  fake.loop.RunOnce();
  EXPECT_EQ(runs, 1);
  fake.loop.RunOnce();
  fake.loop.RunOnce();
  EXPECT_EQ(runs, 3);
}

TEST(EventLoop, RunOnceWaitsNoLongerThanAskedWhenNoTimerIsDueSooner) {
  FakeLoop fake;
  fake.loop.After(milliseconds(50), [] {});
  fake.loop.RunOnce(milliseconds(20));
  EXPECT_EQ(fake.Elapsed(), milliseconds(20));
  fake.loop.RunOnce(milliseconds(100));
  EXPECT_EQ(fake.Elapsed(), milliseconds(50));
}

struct Pipe {
  Pipe() {
    std::array<int, 2> ends{};
    EXPECT_EQ(pipe(ends.data()), 0);
    in = FileDescriptor(ends[0]);
    out = FileDescriptor(ends[1]);
  }
  void Put() const { EXPECT_EQ(write(out.Get(), "x", 1), 1); }
  FileDescriptor in;
  FileDescriptor out;
};

TEST(EventLoop, DescriptorFiresForWhatItIsReadyFor) {
  EventLoop loop;
  Pipe pipe;
  std::vector<unsigned> readIn;
  std::vector<unsigned> writeOut;
  loop.Watch(pipe.in.Get(), kReadable, [&](unsigned ready) { readIn.push_back(ready); });
  loop.Watch(pipe.out.Get(), kWritable, [&](unsigned ready) { writeOut.push_back(ready); });
  loop.RunOnce();
  EXPECT_TRUE(readIn.empty());
  EXPECT_EQ(writeOut, std::vector<unsigned>{kWritable});
  loop.Unwatch(pipe.out.Get());
  pipe.Put();
  loop.RunOnce();
  EXPECT_EQ(readIn, std::vector<unsigned>{kReadable});
  pipe.out.Close();
  char byte = 0;
  ASSERT_EQ(read(pipe.in.Get(), &byte, 1), 1);
  loop.RunOnce();
  ASSERT_EQ(readIn.size(), 2U);
  EXPECT_NE(readIn[1] & kFailed, 0U);  // the writer has gone
}

TEST(EventLoop, WatchRemovedByAnEarlierCallbackOfTheTurnIsNotCalled) {
  EventLoop loop;
  Pipe first;
  Pipe second;
  first.Put();
  second.Put();
  int calls = 0;
  // Whichever runs first removes the other: only one is ever called.
  loop.Watch(first.in.Get(), kReadable, [&](unsigned) {
    ++calls;
    loop.Unwatch(second.in.Get());
  });
  loop.Watch(second.in.Get(), kReadable, [&](unsigned) {
    ++calls;
    loop.Unwatch(first.in.Get());
  });
  loop.RunOnce();
  EXPECT_EQ(calls, 1);
}

TEST(EventLoop, StopEndsRunAfterTheTurnAndALaterRunGoesOn) {
  FakeLoop fake;
  std::vector<int> ran;
  fake.loop.After(milliseconds(10), [&] {
    ran.push_back(1);
    fake.loop.Stop();
  });
  fake.loop.After(milliseconds(20), [&] {
    ran.push_back(2);
    fake.loop.Stop();
  });
  fake.loop.Run();
  EXPECT_EQ(ran, std::vector<int>{1});
  fake.loop.Run();
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST(EventLoop, ChildEndedArrivesAsALoopEvent) {
  EventLoop loop;
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGCHLD);
  sigset_t before;
  ASSERT_EQ(sigprocmask(SIG_BLOCK, nullptr, &before), 0);
  std::vector<int> heard;
  {
    LoopSignals watch(loop, signals, [&](int signal) {
      heard.push_back(signal);
      loop.Stop();
    });
    const pid_t child = fork();
    if (child == 0) {
      _exit(0);
    }
    loop.Run();
    waitpid(child, nullptr, 0);
  }
  sigprocmask(SIG_SETMASK, &before, nullptr);
  EXPECT_EQ(heard, std::vector<int>{SIGCHLD});
}

// Two raises before the loop turns wake it once; Run ends only through the wake.
TEST(EventLoop, AnotherThreadWakesTheLoop) {
  EventLoop loop;
  int woken = 0;
  LoopWake wake(loop, [&] {
    ++woken;
    loop.Stop();
  });
  const auto raise = wake.Raiser();
  std::thread([raise] {
    raise();
    raise();
  }).join();
  loop.Run();
  EXPECT_EQ(woken, 1);
}

}  // namespace
}  // namespace hostsweep::controller
