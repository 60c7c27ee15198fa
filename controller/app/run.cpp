#include "controller/app/run.h"

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>

#include "controller/app/exit_status.h"
#include "controller/app/one_sweep.h"
#include "controller/app/run_plan.h"
#include "controller/app/state_sweep.h"
#include "controller/app/watch_run.h"
#include "controller/base/errors.h"
#include "controller/base/time_text.h"
#include "controller/history/missing_devices.h"
#include "controller/inventory/inventory.h"
#include "controller/link/link_pass.h"
#include "controller/system/console.h"
#include "controller/system/event_loop.h"
#include "controller/system/interruptions.h"
#include "controller/system/privileges.h"
#include "controller/web/dashboard.h"

namespace hostsweep::controller {
namespace {

// --history: no sweep; 1 when no device matches, as a sweep that finds none.
int RunHistory(const Options& options, OutputChannel& output) {
  // The user's inventory (--known), read before anything else is done.
  const auto inventory = ReadIfNamed(options.knownFile, ReadInventory);
  std::ostream out(&output);
  const std::size_t written = WriteHistory(options.stateFile, *options.history, options.format,
                                           inventory ? &*inventory : nullptr, out,
                                           IsTerminal(stdout) ? TimeZone::kLocal : TimeZone::kUtc);
  if (WriteFailed(output)) {
    return OutputFailed(output);
  }
  return written > 0 ? kExitFound : kExitNoneFound;
}

// --web alone: the database another process's watch writes, served until
// interrupted.
int RunDashboard(const Options& options) {
  const auto dashboard = StartDashboard(DashboardSettingsOf(options));
  EventLoop loop;
  const Interruptions interruptions(loop, [&loop] { loop.Stop(); });
  loop.Run();
  return kExitFound;
}

// The checks the options call for that need the system: refused before
// anything is read.
void CheckRights(const Options& options, OpenedMeans& means) {
  if (!options.worker.empty()) {
    ForbidGainingRights();
  }
  if (options.arpRate > kDefaultArpRate && !MaySetAnyArpRate()) {
    throw UsageError("--rate above " + std::to_string(kDefaultArpRate) + " needs root");
  }
  if (!options.ipv6) {
    means.ipv6Prober.reset();
  } else if (!means.ipv6Prober) {
    throw SystemError(means.whyNoIpv6);
  }
}

}  // namespace

int Run(const Options& options, const Invocation& invocation, OutputChannel& output,
        OutputChannel& errors, OpenedMeans& means) {
  if (options.history) {
    return RunHistory(options, output);
  }
  if (!options.web.empty() && !options.watchInterval) {
    return RunDashboard(options);
  }
  CheckRights(options, means);
  RunPlan plan(options, invocation, output, errors, means);
  if (options.watchInterval) {
    return RunWatch(plan);
  }
  if (!options.stateFile.empty()) {
    return RunStateSweep(plan);
  }
  return RunSweep(plan, {.earlier = plan.earlier ? &*plan.earlier : nullptr,
                         .watch = nullptr,
                         .inventory = plan.inventory});
}

}  // namespace hostsweep::controller
