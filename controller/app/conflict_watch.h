// The link's conflicts as a watch, or a sweep with --state, tells them: each
// said on standard error (unless -q) and told as an event once when it
// starts, whether a sweep or the listener between sweeps heard it, and once
// when a sweep no longer hears it. With --state each event is recorded and
// queued for the sinks, and the conflicts open are kept, so that a watch
// started again on the same database tells none of them twice.
#pragma once

#include <cstdint>
#include <vector>

#include "controller/history/link_conflicts.h"
#include "controller/history/watch.h"
#include "controller/inventory/inventory.h"
#include "controller/state/state_store.h"

namespace hostsweep::controller {

// On standard error, unless `quiet`: what started, as warnings, and what ended.
void SayConflicts(const ConflictChanges& changes, bool quiet);

class ConflictWatch {
 public:
  // `store`: the state database (--state), or none; `inventory`: what the
  // events say of the devices they name (--known), or none.
  ConflictWatch(StateStore* store, const Inventory* inventory, bool quiet);

  // What a recorded sweep heard, at `now`, against the devices `known`:
  // the events told (with their ids, with --state); none when they could not
  // be recorded, which is said.
  std::vector<WatchEvent> SweepHeard(const std::vector<LinkConflict>& heard,
                                     const std::vector<KnownHost>& known, std::int64_t now);
  // One heard between sweeps, likewise.
  std::vector<WatchEvent> Heard(const LinkConflict& conflict, const std::vector<KnownHost>& known,
                                std::int64_t now);
  // Those open now, for the observers (--metrics, --mqtt).
  [[nodiscard]] std::vector<LinkConflict> Open() const { return book_.Open(); }

 private:
  std::vector<WatchEvent> Tell(const ConflictChanges& changes, const std::vector<KnownHost>& known,
                               std::int64_t now);

  StateStore* store_;
  const Inventory* inventory_;
  bool quiet_;
  ConflictBook book_;
};

}  // namespace hostsweep::controller
