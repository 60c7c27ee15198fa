// The state database as the watch's memory. What the matching needs, the
// hosts present and the most recently seen of those away (WatchRound's
// bound), is read once; each sweep then writes what changed in one
// transaction: the database never holds half a sweep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "controller/history/earlier_results.h"
#include "controller/history/watch.h"
#include "controller/state/database.h"
#include "controller/state/sink_queues.h"
#include "controller/state/state_store.h"
#include "controller/state/state_tables.h"

namespace hostsweep::controller {

class Recorder {
 public:
  // `goneAfter`: sweeps in a row that must miss a present host before it is
  // gone; `sinks`: the queues each event told goes to.
  Recorder(Database& database, int goneAfter, const VendorOf& vendorOf,
           std::vector<std::string> sinks = {});

  [[nodiscard]] const WatchBook& Book() const { return book_; }
  // The hosts present, as --compare takes an earlier sweep.
  [[nodiscard]] EarlierSweep Present() const;

  // One sweep of `swept` (with `ipv6`: its links' IPv6 nodes asked too) that
  // found `found`, at `now` (seconds since the epoch: any clock, a virtual
  // one too). Returns the events told (`telling`), with their ids, once they
  // are committed and queued. The first sweep of a new database is its
  // baseline: each host's `new` is recorded, not told. Throws SystemError
  // when it cannot be: the database keeps the state before the sweep, and so
  // does the recorder.
  RecordedSweep Record(const std::vector<SeenHost>& found, const std::vector<Address>& swept,
                       bool ipv6, std::int64_t now, const EventTelling& telling = {});
  [[nodiscard]] EventQueue& Queues() { return queues_; }
  // The link conflicts left open by the watches before.
  [[nodiscard]] std::vector<LinkConflict> OpenConflicts() const;
  // A conflict's start or end (ConflictEvents'), recorded with the last
  // sweep, kept open or closed, and queued, in one transaction; returns them
  // with their ids. Throws SystemError when it cannot be.
  std::vector<WatchEvent> RecordConflicts(std::vector<WatchEvent> events,
                                          const EventTelling& telling);

  // SeenBetweenSweeps on the book; written with the next sweep recorded, so
  // that a device heard every moment costs no write each time.
  void SeenBetweenSweeps(std::size_t index, std::int64_t now);

 private:
  void Load();
  // The services each device of the book announces now.
  void LoadServices();
  // `before`: the book as committed before the sweep.
  RecordedSweep Write(const std::vector<KnownHost>& before, std::vector<WatchEvent> events,
                      const SweepSummaryRow& sweep, const EventTelling& telling);
  void RecordEvents(std::int64_t sweepId, const std::vector<WatchEvent>& round,
                    const std::vector<WatchEvent>& told, const std::vector<KnownHost>& before);
  void Enqueue(const std::vector<WatchEvent>& told, const EventTelling& telling);

  Database& database_;
  StateTables tables_;
  SinkQueues queues_;
  std::vector<std::string> sinks_;
  VendorOf vendorOf_;
  WatchBook book_;
  std::int64_t committedRecord_ = 0;  // the last record number the database has
  bool empty_ = false;                // no sweep recorded yet: the next is the baseline
  // What the database holds of each device heard since the last commit.
  std::unordered_map<std::int64_t, KnownHost> heardSinceCommit_;
};

}  // namespace hostsweep::controller
