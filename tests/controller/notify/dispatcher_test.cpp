#include "controller/notify/dispatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

using Clock = Dispatcher::Clock;

class FakeQueue : public EventQueue {
 public:
  std::vector<QueuedEvent> Waiting(std::string_view /*sink*/, std::size_t most) override {
    std::vector<QueuedEvent> waiting;
    for (std::size_t i = 0; i < std::min(most, ids.size()); ++i) {
      waiting.push_back({.event = {.id = ids[i]}, .json = std::to_string(ids[i])});
    }
    return waiting;
  }
  void Confirm(std::string_view /*sink*/, std::int64_t id) override {
    ids.erase(std::find(ids.begin(), ids.end(), id));
  }
  std::uint64_t Trim(std::string_view /*sink*/, std::size_t bound) override {
    const std::size_t excess = ids.size() > bound ? ids.size() - bound : 0;
    ids.erase(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(excess));
    dropped += excess;
    return excess;
  }
  SinkStatus Status(std::string_view sink) override {
    return {.name = std::string(sink), .queued = ids.size(), .dropped = dropped};
  }
  std::vector<std::int64_t> ids;
  std::uint64_t dropped = 0;
};

// Answers as told ('y' confirms, 'n' fails; past the script, 'y'), each
// delivery taking `cost` of the virtual clock.
class ScriptedSink : public EventSink {
 public:
  ScriptedSink(std::string answers, Clock::time_point& now, std::chrono::seconds cost)
      : answers_(std::move(answers)), now_(now), cost_(cost) {}
  [[nodiscard]] std::string_view Name() const override { return "webhook"; }
  Delivery Deliver(const QueuedEvent& queued, std::chrono::milliseconds bound) override {
    EXPECT_EQ(bound, std::chrono::seconds(5));
    tried += std::to_string(Seconds()) + ":" + queued.json + " ";
    now_ += cost_;
    const bool yes = tried_ >= answers_.size() || answers_[tried_] == 'y';
    ++tried_;
    return {.confirmed = yes, .why = yes ? "" : "HTTP 500"};
  }
  [[nodiscard]] long long Seconds() const {
    return std::chrono::duration_cast<std::chrono::seconds>(now_.time_since_epoch()).count();
  }
  std::string tried;

 private:
  std::string answers_;
  std::size_t tried_ = 0;
  Clock::time_point& now_;
  std::chrono::seconds cost_;
};

struct Script {
  const char* what;
  std::vector<std::int64_t> queued;
  std::string answers;
  // "S5": a sweep recorded at second 5; "D7": the watch's wait wakes at 7.
  // Either lets deliveries start for 5 s, when the next sweep begins. "O0":
  // a one-shot run's sweep recorded at 0, no next sweep to stop at.
  std::string steps;
  std::string tried;  // "second:id " per delivery
  std::vector<std::int64_t> left;
  std::optional<long long> nextDue;  // seconds
  std::size_t logLines;
  std::size_t queueBound = 10'000;
  std::chrono::seconds cost{0};
  std::uint64_t dropped = 0;
};

void PrintTo(const Script& script, std::ostream* os) { *os << script.what; }

class Dispatch : public ::testing::TestWithParam<Script> {};

// The bookkeeping a receiver relies on: each event confirmed once, in id
// order, a failing receiver retried on the back-off's schedule, a full
// queue's oldest dropped and counted.
TEST_P(Dispatch, KeepsOrderRetriesOnScheduleAndBoundsTheQueue) {
  const Script& script = GetParam();
  FakeQueue queue;
  queue.ids = script.queued;
  Clock::time_point now{};
  ScriptedSink sink(script.answers, now, script.cost);
  std::ostringstream log;
  Dispatcher dispatcher(
      queue, {&sink}, log, [&now] { return now; }, DispatchRules{.queueBound = script.queueBound});
  std::istringstream steps(script.steps);
  for (std::string step; steps >> step;) {
    now = Clock::time_point(std::chrono::seconds(std::stoll(step.substr(1))));
    const auto until = step[0] == 'O' ? Clock::time_point::max() : now + std::chrono::seconds(5);
    if (step[0] != 'D') {
      dispatcher.SweepRecorded(until);
    } else {
      dispatcher.DeliverDue(until);
    }
  }
  EXPECT_EQ(sink.tried, script.tried);
  EXPECT_EQ(queue.ids, script.left);
  EXPECT_EQ(queue.dropped, script.dropped);
  const auto next = dispatcher.NextDue();
  EXPECT_EQ(
      next ? std::optional<long long>(
                 std::chrono::duration_cast<std::chrono::seconds>(next->time_since_epoch()).count())
           : std::nullopt,
      script.nextDue);
  const std::string said = log.str();
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'),
            static_cast<std::ptrdiff_t>(script.logLines))
      << said;
}

INSTANTIATE_TEST_SUITE_P(
    Sinks, Dispatch,
    ::testing::Values(
        Script{"confirmed in id order", {3, 5, 9}, "", "S0", "0:3 0:5 0:9 ", {}, std::nullopt, 0},
        Script{"a failure ends the turn; retried after 1, 2, 4 s, then in order",
               {1, 2},
               "nnny",
               "S0 D0 D1 D2 D3 D5 D7",
               "0:1 1:1 3:1 7:1 7:2 ",
               {},
               std::nullopt,
               2},
        Script{"the back-off stops at 60 s; a sweep makes the sink due at once",
               {1},
               "nnnnnnnnn",
               "S0 D1 D3 D7 D15 D31 D63 S70 D100",
               "0:1 1:1 3:1 7:1 15:1 31:1 63:1 70:1 ",
               {1},
               130,
               1},
        Script{"a full queue loses its oldest, counted and said",
               {1, 2, 3, 4, 5},
               "nn",
               "S0 S1",
               "0:4 1:4 ",
               {4, 5},
               3,
               2,
               2,
               std::chrono::seconds(0),
               3},
        Script{"no delivery starts once the next sweep is due",
               {1, 2, 3, 4},
               "",
               "S0",
               "0:1 2:2 4:3 ",
               {4},
               0,
               0,
               10'000,
               std::chrono::seconds(2)},
        Script{"a one-shot run's turn ends within its bound, the rest kept for the next run",
               {1, 2, 3, 4, 5, 6, 7, 8, 9},
               "",
               "O0",
               "0:1 5:2 10:3 15:4 20:5 25:6 ",
               {7, 8, 9},
               0,
               0,
               10'000,
               std::chrono::seconds(5)}),
    testing::kNumberedName);

}  // namespace
}  // namespace hostsweep::controller
