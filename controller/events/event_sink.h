// Where events go (--on-event, --webhook, --mqtt). Each sink has a queue of
// its own in the state database; an event leaves it only when the sink's
// receiver confirmed it, so a receiver that is down loses nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "controller/events/event.h"

namespace hostsweep::controller {

// An event as its sink's queue holds it: the JSON told (EventJson) and the
// event it says.
struct QueuedEvent {
  Event event{};
  std::string json{};
};

struct Delivery {
  bool confirmed = false;
  // Why not, for a log line; never a secret (a URL's password or token).
  std::string why{};
};

class EventSink {
 public:
  EventSink() = default;
  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;
  virtual ~EventSink() = default;

  // Names the sink's queue and its log lines: "command", "webhook", "mqtt".
  [[nodiscard]] virtual std::string_view Name() const = 0;

  // Passes one event on, returning within `bound` whatever the receiver does
  // (hangs, refuses, is not there). Confirmed only when the receiver said it
  // has it. Throws nothing for a receiver's fault.
  virtual Delivery Deliver(const QueuedEvent& queued, std::chrono::milliseconds bound) = 0;
};

}  // namespace hostsweep::controller
