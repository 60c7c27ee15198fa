// The sinks' queues as the dispatcher sees them: kept in the state database,
// where the sweep that told an event queued it in its own transaction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "controller/events/event_sink.h"
#include "controller/events/sweep_report.h"

namespace hostsweep::controller {

class EventQueue {
 public:
  EventQueue() = default;
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;
  virtual ~EventQueue() = default;

  // The oldest `most` events waiting for `sink`, in id order.
  virtual std::vector<QueuedEvent> Waiting(std::string_view sink, std::size_t most) = 0;
  // Its receiver has it: the event leaves the sink's queue.
  virtual void Confirm(std::string_view sink, std::int64_t id) = 0;
  // Drops the oldest events past `bound`, counting them; returns how many
  // it dropped now.
  virtual std::uint64_t Trim(std::string_view sink, std::size_t bound) = 0;
  // Its queue's length and its drops ever.
  virtual SinkStatus Status(std::string_view sink) = 0;
};

}  // namespace hostsweep::controller
