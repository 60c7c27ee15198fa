// The sinks' queues in the state database (sink_queue, sink_drops).
#pragma once

#include <memory>
#include <string_view>

#include "controller/events/event_queue.h"
#include "controller/state/database.h"

namespace hostsweep::controller {

class SinkQueues : public EventQueue {
 public:
  explicit SinkQueues(Database& database);
  // Inside the transaction that records the event.
  void Enqueue(std::string_view sink, std::int64_t id, std::string_view json);

  std::vector<QueuedEvent> Waiting(std::string_view sink, std::size_t most) override;
  void Confirm(std::string_view sink, std::int64_t id) override;
  std::uint64_t Trim(std::string_view sink, std::size_t bound) override;
  SinkStatus Status(std::string_view sink) override;

 private:
  Database& database_;
  std::unique_ptr<Statement> enqueue_;
  std::unique_ptr<Statement> waiting_;
  std::unique_ptr<Statement> confirm_;
  std::unique_ptr<Statement> length_;
  std::unique_ptr<Statement> dropOldest_;
  std::unique_ptr<Statement> countDrops_;
  std::unique_ptr<Statement> dropped_;
};

}  // namespace hostsweep::controller
