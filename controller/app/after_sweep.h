// What follows a whole sweep however the run goes on, so that --watch, its
// frames heard between sweeps and a one-shot --state sweep do it alike: the
// link's conflicts said, the events matched and recorded, the observers
// shown the sweep, the queued sinks' deliveries started.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "controller/app/conflict_watch.h"
#include "controller/app/run_plan.h"
#include "controller/base/link_conflict.h"
#include "controller/history/link_conflicts.h"
#include "controller/history/watch.h"
#include "controller/notify/dispatcher.h"

namespace hostsweep::controller {

class AfterSweep {
 public:
  // `firstSweep`: until a sweep is recorded, the absences of devices the
  // inventory expects always are told too (a watch's first round; a
  // --state sweep goes on from the run before it, and tells each once).
  AfterSweep(const RunPlan& plan, bool firstSweep);

  // The round's events: recorded with --state, else matched in memory; none
  // when it could not be recorded, which is said, and the state before it
  // kept. `found`: the sweep's rows', or a device heard between sweeps.
  std::optional<std::vector<WatchEvent>> WatchEvents(const std::vector<SeenHost>& found,
                                                     const SweepRows& rows, std::int64_t now);
  // Before a watch's WatchEvents: each device the sweep would tell gone
  // asked by `ask`, and those that answer found (AskBeforeGone).
  void AskBeforeGone(SweepRows& rows, std::int64_t now, const LastCall& ask) const;
  // After each recorded sweep, begun at `began`: its events and the link
  // conflicts it `heard` told (ConflictWatch) and counted, and the observers
  // (--mqtt, --metrics, --web) shown the sweep.
  void SweepRecorded(const std::vector<WatchEvent>& events, const SweepRows& rows,
                     const std::vector<LinkConflict>& heard,
                     std::chrono::steady_clock::time_point began, std::int64_t now);
  // A conflict heard between sweeps, told as ConflictWatch tells it and
  // counted; the events told.
  std::vector<WatchEvent> ConflictHeard(const LinkConflict& conflict, std::int64_t now);
  // Events told between sweeps: counted, and delivered until `until`.
  void Told(const std::vector<WatchEvent>& events, std::chrono::steady_clock::time_point until);
  // What is queued delivered until `until`, and retried until then.
  void Deliver(std::chrono::steady_clock::time_point until);

  // Every device known so far, as recorded.
  [[nodiscard]] const std::vector<KnownHost>& Known() const;
  // A present device heard between sweeps: its time away and its misses
  // count again from `now`, in the state database or the watch's memory.
  void SeenBetweenSweeps(std::size_t record, std::int64_t now);
  // The queued sinks' deliveries, with --state and a sink to deliver to.
  [[nodiscard]] std::optional<Dispatcher>& Deliveries() { return dispatcher_; }

 private:
  void Count(const std::vector<WatchEvent>& events);

  const RunPlan& plan_;
  bool firstSweep_;
  WatchBook book_;  // without --state: what the watch knows, in memory
  std::map<Change, std::uint64_t> eventsTold_;
  ConflictWatch conflicts_;
  std::optional<Dispatcher> dispatcher_;
};

}  // namespace hostsweep::controller
