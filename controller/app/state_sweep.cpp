#include "controller/app/state_sweep.h"

#include <chrono>
#include <vector>

#include "controller/app/after_sweep.h"
#include "controller/app/exit_status.h"
#include "controller/app/one_sweep.h"
#include "controller/base/link_conflict.h"
#include "controller/base/time_text.h"
#include "controller/history/earlier_results.h"
#include "controller/history/watch.h"

namespace hostsweep::controller {

int RunStateSweep(RunPlan& plan) {
  const EarlierSweep present = plan.store->Present();
  SweepRows rows(plan.options.ipv6);
  std::vector<LinkConflict> heard;
  const auto began = std::chrono::steady_clock::now();
  const int status = RunSweep(plan, {.earlier = &present,
                                     .watch = nullptr,
                                     .inventory = plan.inventory,
                                     .recorder = &rows,
                                     .conflicts = &heard});
  SayConflicts({.started = heard, .ended = {}}, plan.options.quiet);
  if (!IsWhole(status)) {
    return status;
  }
  // Each run goes on from the last: an absence is told when a device
  // expected always goes, not at every run.
  AfterSweep after(plan, /*firstSweep=*/false);
  const auto now = EpochSeconds(std::chrono::system_clock::now());
  const auto events = after.WatchEvents(rows.Found(), rows, now);
  if (!events) {
    return kExitSystem;
  }
  after.SweepRecorded(*events, rows, heard, began, now);
  // Delivered once; what is not confirmed waits for the next run.
  after.Deliver(std::chrono::steady_clock::time_point::max());
  return status;
}

}  // namespace hostsweep::controller
