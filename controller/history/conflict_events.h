// A link conflict's start and end as the events a watch tells, beside the
// changes of its devices.
#pragma once

#include <cstdint>
#include <vector>

#include "controller/history/earlier_results.h"
#include "controller/history/link_conflicts.h"
#include "controller/history/watch.h"

namespace hostsweep::controller {

// kConflict for each conflict started, then kConflictEnded for each ended,
// at `now`. Each names the device of `known` that answers with the
// conflict's first MAC (the one at its address, when it has one), so that a
// receiver shows it as it shows that device's changes; its address is the
// conflict's. A MAC no device has is told with record 0.
std::vector<WatchEvent> ConflictEvents(const ConflictChanges& changes,
                                       const std::vector<KnownHost>& known, std::int64_t now);

}  // namespace hostsweep::controller
