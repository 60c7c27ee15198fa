// Delivery of the queued events to their sinks. Each sink is served in id
// order; its first failure ends its turn (what follows waits, the order
// kept) and puts it off: 1 s, doubling up to 60 s, and after every sweep it
// is due again at once. A turn ends within its own bound however slow the
// sinks are (what is left waits for the next turn, or a one-shot run's next
// run). A full queue loses its oldest events, counted.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <vector>

#include "controller/events/event_queue.h"
#include "controller/events/event_sink.h"

namespace hostsweep::controller {

struct DispatchRules {
  std::chrono::milliseconds bound{5000};  // per delivery, its answer read whole
  // Per turn: no delivery starts unless its bound ends within it.
  std::chrono::milliseconds turnBound{30'000};
  std::chrono::milliseconds firstBackOff{1000};
  std::chrono::milliseconds longestBackOff{60'000};
  std::size_t queueBound = 10'000;  // events per sink
};

class Dispatcher {
 public:
  using Clock = std::chrono::steady_clock;
  using Now = std::function<Clock::time_point()>;

  // Log lines (a receiver failing, back again, a queue dropping) go to `log`.
  Dispatcher(EventQueue& queue, const std::vector<EventSink*>& sinks, std::ostream& log,
             Now now = Clock::now, DispatchRules rules = {});

  // After each recorded sweep: full queues trimmed, every sink due at once
  // and served; no delivery starts after `until` (the next sweep; a
  // one-shot run has none: the turn's bound ends it).
  void SweepRecorded(Clock::time_point until);
  // Serves every sink that is due, until each has failed once or has
  // nothing left; no delivery starts after `until`.
  void DeliverDue(Clock::time_point until);
  // When the next sink with events waiting is due; none when none waits.
  [[nodiscard]] std::optional<Clock::time_point> NextDue() const;

 private:
  struct Turn {
    EventSink* sink;
    Clock::time_point due{};
    std::chrono::milliseconds backOff{0};  // 0 while it delivers
    bool waiting = true;                   // events may be queued for it
    bool dropping = false;                 // said once until it delivers again
  };
  // False once `until` or the turn's end leaves no room for a delivery.
  [[nodiscard]] bool RoomFor(Clock::time_point until, Clock::time_point turnEnd) const;
  void Serve(Turn& turn, Clock::time_point until, Clock::time_point turnEnd);
  void Failed(Turn& turn, const Delivery& delivery);
  void Trim(Turn& turn);

  EventQueue& queue_;
  std::vector<Turn> turns_;
  std::ostream& log_;
  Now now_;
  DispatchRules rules_;
};

}  // namespace hostsweep::controller
