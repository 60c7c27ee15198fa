#include "controller/app/one_sweep.h"

#include <chrono>
#include <cstddef>
#include <iostream>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "controller/app/exit_status.h"
#include "controller/app/sweep_stages.h"
#include "controller/base/errors.h"
#include "controller/base/link_conflict.h"
#include "controller/history/link_conflicts.h"
#include "controller/link/link_pass.h"
#include "controller/sweep/progress.h"
#include "controller/sweep/sweep.h"
#include "controller/system/console.h"
#include "controller/system/files.h"
#include "controller/system/limits.h"
#include "controller/system/neighbour_table.h"
#include "controller/system/privileges.h"
#include "controller/system/worker_host.h"

namespace hostsweep::controller {
namespace {

std::string WorkerPathOf(const Options& options) {
  return options.worker.empty() ? DefaultWorkerPath() : options.worker;
}

// Where the workers may not send echo requests but the link pass runs, the
// hosts on the link are still found by their ARP answers: said once, with
// what it costs. Routed targets alone cannot be swept at all.
void CheckSweepWithoutEchoes(const std::string& whyNoEchoes, std::size_t echoPathCount,
                             std::size_t addressCount) {
  if (echoPathCount == addressCount) {
    throw SystemError(whyNoEchoes);
  }
  std::cerr << "hostsweep: warning: echo requests are not allowed here (net.ipv4.ping_group_range, "
               "no CAP_NET_RAW for the worker): hosts on the link are found by their ARP answers "
               "alone and read silent, with no RTT or TTL";
  if (echoPathCount > 0) {
    std::cerr << "; the " << echoPathCount
              << " addresses the link pass does not cover (routed targets, this machine's own) "
                 "cannot be swept";
  }
  std::cerr << "\n";
}

SweepSettings SettingsFor(const Options& options, std::size_t echoPathCount, bool echoes) {
  return {.jobs = options.jobs,
          .batchSize = options.batchSize.value_or(ChooseBatchSize(echoPathCount, options.jobs)),
          .pause = std::to_string(options.pause),
          .namesOnly = options.namesOnly,
          .echoes = echoes,
          .verbose = options.verbose,
          .neighbourTable = NeighbourTableSize(),
          .mostChains = MostChainsAtOnce(),
          .tableLoad = ReadNeighbourTableLoad};
}

// Runs the sweep, handing each round's finished rows to `stream` under the
// progress line (on a terminal, unless -q); false when it was interrupted or
// its output could no longer be written.
bool SweepShowingProgress(const RunPlan& plan, Sweep& sweep, Sinks& sinks) {
  // The progress line's own terminal controls go around the masking.
  std::ostream terminal(&plan.errors);
  std::optional<ProgressLine> progress;
  if (!plan.options.quiet && IsTerminal(stderr)) {
    progress.emplace(terminal);
  }
  const bool finished = sweep.Run([&](const ResultBook& book) {
    if (progress && sinks.Stream().HasReady(book)) {
      progress->Clear();
    }
    sinks.Stream().WriteReady(book);
    if (progress) {
      progress->Update(book.Done(), plan.addresses.size(), book.Found());
    }
    // A results file that cannot be written ends the sweep, as standard output does.
    return plan.output.Outcome() == WriteOutcome::kWritten && !sinks.AnyFileFailed();
  });
  if (progress) {
    progress->Clear();
  }
  return finished;
}

// What the sweep's end means for the exit status, said on standard error.
int ExitStatusOf(const RunPlan& plan, const Sweep& sweep, Sinks& sinks, bool finished) {
  if (plan.options.verbose) {
    const SweepCounts& counts = sweep.Counts();
    std::cerr << "hostsweep: " << counts.duplicateReports << " duplicate and "
              << counts.unknownReports << " stray reports ignored, " << counts.overdueBatches
              << " overdue batches ended\n";
  }
  if (const auto* failed = sinks.Close()) {
    std::cerr << "hostsweep: cannot write the results to " << failed->path << "\n";
    return kExitSystem;
  }
  if (WriteFailed(plan.output)) {
    return OutputFailed(plan.output);
  }
  if (!finished) {
    std::cerr << "hostsweep: interrupted: " << sweep.Book().Done() << " of "
              << plan.addresses.size() << " addresses done\n";
    return kExitInterrupted;
  }
  if (sinks.AnyChange()) {
    return kExitChanged;
  }
  return sweep.Book().Found() > 0 ? kExitFound : kExitNoneFound;
}

// A watch says each conflict once, when it starts (ConflictBook); a run
// that takes them says them itself.
void HandConflicts(const ArpPass* linkPass, RowTaker taker, bool quiet) {
  std::vector<LinkConflict> conflicts =
      linkPass ? linkPass->Conflicts() : std::vector<LinkConflict>{};
  if (taker.conflicts != nullptr) {
    *taker.conflicts = std::move(conflicts);
  } else if (!quiet) {
    for (const LinkConflict& conflict : conflicts) {
      std::cerr << ConflictWarning(conflict) << "\n";
    }
  }
}

}  // namespace

int RunSweep(RunPlan& plan, RowTaker taker) {
  const auto began = std::chrono::steady_clock::now();
  const Options& options = plan.options;
  Sinks sinks(options, plan.run);
  const std::string workerPath = WorkerPathOf(options);
  const std::string whyNoEchoes = options.namesOnly ? std::string{} : WhyNoEchoes(workerPath);
  const bool echoes = whyNoEchoes.empty();
  const auto host =
      MakeWorkerHost(plan.loop, workerPath, /*sendsEchoes=*/echoes && !options.namesOnly);
  SweepStages stages(options, plan.addresses, plan.means, plan.loop);
  const std::size_t echoPathCount = stages.EchoPathCount(plan.addresses.size());
  if (!echoes) {
    CheckSweepWithoutEchoes(whyNoEchoes, echoPathCount, plan.addresses.size());
  }
  Sweep sweep(plan.addresses, SettingsFor(options, echoPathCount, echoes), plan.loop, *host,
              std::cerr, stages.ForSweep(), stages.LinkPass());
  std::ostream results(&plan.output);
  sinks.Connect(results, taker, plan.vendorOf);
  const bool finished = SweepShowingProgress(plan, sweep, sinks);
  sinks.Stream().Finish(sweep.Book(), finished ? SweepEnd::kComplete : SweepEnd::kInterrupted,
                        stages.Ipv6OnlyRows(sweep.Book(), plan.vendorOf));
  if (const auto warning = UncheckedWarning(sweep.Book())) {
    std::cerr << *warning << "\n";
  }
  HandConflicts(stages.LinkPass(), taker, options.quiet);
  const int status = ExitStatusOf(plan, sweep, sinks, finished);
  // Once per sweep it would be noise in a watch, which prints changes alone.
  if (IsWhole(status) && !options.quiet && taker.watch == nullptr) {
    std::cerr << SweepSummary(sweep.Book(), options.namesOnly,
                              std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - began))
              << "\n";
  }
  return status;
}

bool IsWhole(int status) {
  return status == kExitFound || status == kExitNoneFound || status == kExitChanged;
}

bool WriteFailed(const OutputChannel& output) {
  return output.Outcome() == WriteOutcome::kReaderGone || output.Outcome() == WriteOutcome::kFailed;
}

// The reader having gone is no news to the user (a pager quit, `| head`),
// as for other tools.
int OutputFailed(const OutputChannel& output) {
  if (output.Outcome() == WriteOutcome::kFailed) {
    std::cerr << "hostsweep: cannot write the results: " << output.Problem() << "\n";
  }
  return kExitSystem;
}

}  // namespace hostsweep::controller
