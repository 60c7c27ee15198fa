// A watch's passive listener: what it hears between sweeps and during them,
// told as the sweeps' events are, so that a device that comes is told at
// once rather than at the next sweep.
#pragma once

#include <functional>
#include <optional>
#include <unordered_set>
#include <vector>

#include "controller/app/after_sweep.h"
#include "controller/app/run_plan.h"
#include "controller/base/address.h"
#include "controller/history/watch.h"
#include "controller/passive/passive_book.h"
#include "controller/passive/passive_listener.h"
#include "controller/passive/present_hosts.h"

namespace hostsweep::controller {

// A device among the targets that no present host is, at once; a present
// one seen again (its away_after counts from now); a conflict said once.
// Only once the first sweep is recorded: before it, everything is new.
class BetweenSweeps {
 public:
  using Tell = std::function<void(const std::vector<WatchEvent>&)>;
  // `tell`: a device's events, for the watch's lines and its sinks;
  // `deliver`: a conflict's, recorded already, for its sinks alone.
  BetweenSweeps(RunPlan& plan, AfterSweep& after, Tell tell, std::function<void()> deliver);

  // After each recorded sweep: what the frames are weighed against.
  void SweepRecorded();

 private:
  void Hear(const Sighting& sighting);
  void TellArrival(const SeenHost& host, std::int64_t now);

  const RunPlan& plan_;
  AfterSweep& after_;
  Tell tell_;
  std::function<void()> deliver_;
  std::unordered_set<Address> targets_;
  PassiveBook& passive_;
  PresentHosts present_;
  bool recorded_ = false;
  std::optional<PassiveListener> listener_;  // last: it stops before the rest goes
};

}  // namespace hostsweep::controller
