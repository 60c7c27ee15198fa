#include "controller/app/watch_run.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iostream>
#include <optional>
#include <ostream>
#include <vector>

#include "controller/app/after_sweep.h"
#include "controller/app/between_sweeps.h"
#include "controller/app/exit_status.h"
#include "controller/app/one_sweep.h"
#include "controller/app/sources.h"
#include "controller/base/time_text.h"
#include "controller/history/link_conflicts.h"
#include "controller/history/watch.h"
#include "controller/inventory/inventory.h"
#include "controller/notify/dispatcher.h"
#include "controller/system/console.h"
#include "controller/system/event_loop.h"
#include "controller/system/interruptions.h"

namespace hostsweep::controller {
namespace {

// The watch's wait for its next sweep, with each retry of the dispatcher's
// that falls due meanwhile a timer of the loop; true, at once, when the user
// interrupts.
bool WaitForNextSweep(EventLoop& loop, EventLoop::Clock::time_point next,
                      std::optional<Dispatcher>& dispatcher) {
  bool interrupted = false;
  const Interruptions interruptions(loop, [&] {
    interrupted = true;
    loop.Stop();
  });
  const auto sweep = loop.At(next, [&loop] { loop.Stop(); });
  std::optional<EventLoop::TimerId> retry;
  std::function<void()> scheduleRetry = [&] {
    const auto due = dispatcher ? dispatcher->NextDue() : std::nullopt;
    if (due && *due < next) {
      retry = loop.At(*due, [&] {
        dispatcher->DeliverDue(next);
        scheduleRetry();
      });
    }
  };
  scheduleRetry();
  loop.Run();
  loop.Cancel(sweep);
  if (retry) {
    loop.Cancel(*retry);
  }
  return interrupted;
}

// Piped, the watch's lines stay as scripts split them; a person reads them aligned.
WatchLineForm WatchLineFormOf(const Options& options) {
  if (options.format == Format::kJson) {
    return WatchLineForm::kJson;
  }
  return IsTerminal(stdout) ? WatchLineForm::kAligned : WatchLineForm::kTabs;
}

// Each event of the round as a line of the watch's output.
void WriteWatchLines(std::ostream& lines, const RunPlan& plan, WatchLineForm form,
                     const std::vector<WatchEvent>& events) {
  for (const auto& event : events) {
    lines << WatchLine(event, plan.vendorOf, form, FactsOf(plan.inventory, event.host)) << '\n'
          << std::flush;
  }
}

// With -v: the sweep's heartbeat on standard error, its time as the lines' are.
void SayHeartbeat(std::int64_t now, const SweepRows& rows, std::size_t changes,
                  WatchLineForm form) {
  std::cerr << Heartbeat(now, rows.SweptCount(), rows.Found().size(), changes,
                         form == WatchLineForm::kAligned ? TimeZone::kLocal : TimeZone::kUtc)
            << "\n";
}

// Each device the sweep would tell gone asked once more, all at once: a
// dozing phone that answers stays.
void AskThoseAboutToGo(RunPlan& plan, const AfterSweep& after, SweepRows& rows, std::int64_t now) {
  SourceParts parts;
  after.AskBeforeGone(rows, now, [&](const std::vector<SeenHost>& hosts) {
    return LastQuestionsFor(plan.options, plan.means, plan.loop, parts).Ask(hosts);
  });
}

}  // namespace

int RunWatch(RunPlan& plan) {
  const Options& options = plan.options;
  // Until a sweep is recorded: the absences it tells are told once.
  AfterSweep after(plan, /*firstSweep=*/true);
  std::ostream lines(&plan.output);
  const WatchLineForm form = WatchLineFormOf(options);
  auto next = std::chrono::steady_clock::now() + *options.watchInterval;
  BetweenSweeps between(
      plan, after,
      [&](const std::vector<WatchEvent>& events) {
        WriteWatchLines(lines, plan, form, events);
        after.Told(events, next);
      },
      [&] { after.Deliver(next); });
  for (;;) {
    plan.ReadKnownAgain();
    SweepRows rows(options.ipv6);
    std::vector<LinkConflict> heard;
    const auto began = std::chrono::steady_clock::now();
    const int status = RunSweep(
        plan,
        {.earlier = nullptr, .watch = &rows, .inventory = plan.inventory, .conflicts = &heard});
    if (!IsWhole(status)) {
      return status;
    }
    const auto now = EpochSeconds(std::chrono::system_clock::now());
    AskThoseAboutToGo(plan, after, rows, now);
    const auto events = after.WatchEvents(rows.Found(), rows, now);
    WriteWatchLines(lines, plan, form, events.value_or(std::vector<WatchEvent>{}));
    if (options.verbose) {
      SayHeartbeat(now, rows, events ? events->size() : 0, form);
    }
    if (events) {
      after.SweepRecorded(*events, rows, heard, began, now);
      between.SweepRecorded();
    }
    if (WriteFailed(plan.output)) {
      return OutputFailed(plan.output);
    }
    // Deliveries never delay the next sweep by more than one's bound.
    next = std::chrono::steady_clock::now() + *options.watchInterval;
    if (events) {
      after.Deliver(next);
    }
    if (WaitForNextSweep(plan.loop, next, after.Deliveries())) {
      std::cerr << "hostsweep: interrupted between sweeps\n";
      return kExitInterrupted;
    }
  }
}

}  // namespace hostsweep::controller
