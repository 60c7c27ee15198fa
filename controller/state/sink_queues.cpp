#include "controller/state/sink_queues.h"

#include <string>

namespace hostsweep::controller {

SinkQueues::SinkQueues(Database& database)
    : database_(database),
      enqueue_(database.Prepare("INSERT INTO sink_queue (sink, event, json) VALUES (?1, ?2, ?3)")),
      waiting_(database.Prepare(
          "SELECT event, json FROM sink_queue WHERE sink = ?1 ORDER BY event LIMIT ?2")),
      confirm_(database.Prepare("DELETE FROM sink_queue WHERE sink = ?1 AND event = ?2")),
      length_(database.Prepare("SELECT count(*) FROM sink_queue WHERE sink = ?1")),
      dropOldest_(database.Prepare(
          "DELETE FROM sink_queue WHERE sink = ?1 AND event IN "
          "(SELECT event FROM sink_queue WHERE sink = ?1 ORDER BY event LIMIT ?2)")),
      countDrops_(database.Prepare("INSERT INTO sink_drops (sink, dropped) VALUES (?1, ?2) "
                                   "ON CONFLICT (sink) DO UPDATE SET dropped = dropped + ?2")),
      dropped_(database.Prepare("SELECT dropped FROM sink_drops WHERE sink = ?1")) {}

void SinkQueues::Enqueue(std::string_view sink, std::int64_t id, std::string_view json) {
  enqueue_->Bind(1, sink).Bind(2, id).Bind(3, json).Run();
}

std::vector<QueuedEvent> SinkQueues::Waiting(std::string_view sink, std::size_t most) {
  std::vector<QueuedEvent> waiting;
  waiting_->Bind(1, sink).Bind(2, static_cast<std::int64_t>(most));
  while (waiting_->Step()) {
    std::string json = waiting_->Text(1);
    // A row this hostsweep cannot read is still passed on as it was told.
    Event event = ParseEventJson(json).value_or(Event{});
    event.id = waiting_->Integer(0);
    waiting.push_back({std::move(event), std::move(json)});
  }
  waiting_->Reset();
  return waiting;
}

void SinkQueues::Confirm(std::string_view sink, std::int64_t id) {
  confirm_->Bind(1, sink).Bind(2, id).Run();
}

std::uint64_t SinkQueues::Trim(std::string_view sink, std::size_t bound) {
  const std::size_t length = Status(sink).queued;
  if (length <= bound) {
    return 0;
  }
  const auto excess = static_cast<std::int64_t>(length - bound);
  Transaction transaction(database_);
  dropOldest_->Bind(1, sink).Bind(2, excess).Run();
  countDrops_->Bind(1, sink).Bind(2, excess).Run();
  transaction.Commit();
  return static_cast<std::uint64_t>(excess);
}

SinkStatus SinkQueues::Status(std::string_view sink) {
  SinkStatus status{.name = std::string(sink)};
  length_->Bind(1, sink);
  if (length_->Step()) {
    status.queued = static_cast<std::size_t>(length_->Integer(0));
  }
  length_->Reset();
  dropped_->Bind(1, sink);
  if (dropped_->Step()) {
    status.dropped = static_cast<std::uint64_t>(dropped_->Integer(0));
  }
  dropped_->Reset();
  return status;
}

}  // namespace hostsweep::controller
