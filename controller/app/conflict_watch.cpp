#include "controller/app/conflict_watch.h"

#include <iostream>

#include "controller/base/errors.h"
#include "controller/history/conflict_events.h"
#include "controller/history/missing_devices.h"

namespace hostsweep::controller {

void SayConflicts(const ConflictChanges& changes, bool quiet) {
  if (quiet) {
    return;
  }
  for (const LinkConflict& conflict : changes.started) {
    std::cerr << ConflictWarning(conflict) << "\n";
  }
  for (const LinkConflict& conflict : changes.ended) {
    std::cerr << ConflictEndedLine(conflict) << "\n";
  }
}

ConflictWatch::ConflictWatch(StateStore* store, const Inventory* inventory, bool quiet)
    : store_(store),
      inventory_(inventory),
      quiet_(quiet),
      book_(store != nullptr ? store->OpenConflicts() : std::vector<LinkConflict>{}) {}

std::vector<WatchEvent> ConflictWatch::SweepHeard(const std::vector<LinkConflict>& heard,
                                                  const std::vector<KnownHost>& known,
                                                  std::int64_t now) {
  return Tell(book_.Round(heard), known, now);
}

std::vector<WatchEvent> ConflictWatch::Heard(const LinkConflict& conflict,
                                             const std::vector<KnownHost>& known,
                                             std::int64_t now) {
  return Tell(book_.Heard(conflict), known, now);
}

std::vector<WatchEvent> ConflictWatch::Tell(const ConflictChanges& changes,
                                            const std::vector<KnownHost>& known, std::int64_t now) {
  SayConflicts(changes, quiet_);
  std::vector<WatchEvent> events = ConflictEvents(changes, known, now);
  if (store_ == nullptr || events.empty()) {
    return events;
  }
  const Inventory* inventory = inventory_;
  try {
    return store_->RecordConflicts(
        std::move(events),
        {.factsOf = [inventory](const SeenHost& host) { return FactsOf(inventory, host); }});
  } catch (const SystemError& error) {
    std::cerr << "hostsweep: --state: " << error.what() << "\n";
    return {};
  }
}

}  // namespace hostsweep::controller
