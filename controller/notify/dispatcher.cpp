#include "controller/notify/dispatcher.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

namespace hostsweep::controller {
namespace {

// Events read from the queue at a time: a long queue is never read whole.
constexpr std::size_t kBatch = 64;

// The option that named the sink, as the user knows it.
std::string OptionOf(const EventSink& sink) {
  return sink.Name() == "command" ? "--on-event" : "--" + std::string(sink.Name());
}

}  // namespace

Dispatcher::Dispatcher(EventQueue& queue, const std::vector<EventSink*>& sinks, std::ostream& log,
                       Now now, DispatchRules rules)
    : queue_(queue), log_(log), now_(std::move(now)), rules_(rules) {
  for (EventSink* sink : sinks) {
    turns_.push_back({.sink = sink});
  }
}

void Dispatcher::SweepRecorded(Clock::time_point until) {
  const auto now = now_();
  for (Turn& turn : turns_) {
    Trim(turn);
    turn.due = now;
    turn.waiting = true;
  }
  DeliverDue(until);
}

void Dispatcher::DeliverDue(Clock::time_point until) {
  const auto turnEnd = now_() + rules_.turnBound;
  std::vector<Turn*> due;
  for (Turn& turn : turns_) {
    if (turn.waiting && turn.due <= now_()) {
      due.push_back(&turn);
    }
  }
  // Each sink gets an even share of what is left of the turn, so that a slow
  // one cannot starve those after it.
  for (std::size_t index = 0; index < due.size(); ++index) {
    const auto now = now_();
    const auto share = (turnEnd - now) / static_cast<long>(due.size() - index);
    Serve(*due[index], until, now + share);
  }
}

bool Dispatcher::RoomFor(Clock::time_point until, Clock::time_point turnEnd) const {
  const auto now = now_();
  return now < until && now + rules_.bound <= turnEnd;
}

std::optional<Dispatcher::Clock::time_point> Dispatcher::NextDue() const {
  std::optional<Clock::time_point> next;
  for (const Turn& turn : turns_) {
    if (turn.waiting && (!next || turn.due < *next)) {
      next = turn.due;
    }
  }
  return next;
}

void Dispatcher::Serve(Turn& turn, Clock::time_point until, Clock::time_point turnEnd) {
  const std::string name(turn.sink->Name());
  for (;;) {
    const std::vector<QueuedEvent> batch = queue_.Waiting(name, kBatch);
    for (const QueuedEvent& queued : batch) {
      if (!RoomFor(until, turnEnd)) {
        return;  // still due: served again in the next turn
      }
      Delivery delivery;
      try {
        delivery = turn.sink->Deliver(queued, rules_.bound);
      } catch (const std::exception& error) {
        delivery = {.confirmed = false, .why = error.what()};
      }
      if (!delivery.confirmed) {
        Failed(turn, delivery);
        return;
      }
      queue_.Confirm(name, queued.event.id);
      if (turn.backOff.count() > 0) {
        log_ << "hostsweep: " << OptionOf(*turn.sink) << ": delivering again\n" << std::flush;
      }
      turn.backOff = {};
      turn.dropping = false;
    }
    if (batch.size() < kBatch) {
      turn.waiting = false;
      return;
    }
  }
}

void Dispatcher::Failed(Turn& turn, const Delivery& delivery) {
  if (turn.backOff.count() == 0) {
    log_ << "hostsweep: " << OptionOf(*turn.sink) << ": not delivered (" << delivery.why
         << "); tried again with back-off, every event kept until delivered\n"
         << std::flush;
    turn.backOff = rules_.firstBackOff;
  } else {
    turn.backOff = std::min(turn.backOff * 2, rules_.longestBackOff);
  }
  turn.due = now_() + turn.backOff;
}

void Dispatcher::Trim(Turn& turn) {
  const std::uint64_t dropped = queue_.Trim(turn.sink->Name(), rules_.queueBound);
  if (dropped > 0 && !turn.dropping) {
    log_ << "hostsweep: " << OptionOf(*turn.sink) << ": its queue is full (" << rules_.queueBound
         << " events): the oldest are dropped and counted, " << dropped
         << " so far; said again once it delivers\n"
         << std::flush;
    turn.dropping = true;
  }
}

}  // namespace hostsweep::controller
