#include "controller/app/run.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <variant>

#include "controller/app/addresses.h"
#include "controller/app/event_receivers.h"
#include "controller/app/exit_status.h"
#include "controller/app/sinks.h"
#include "controller/base/errors.h"
#include "controller/base/time_text.h"
#include "controller/devices/device_rules.h"
#include "controller/history/link_conflicts.h"
#include "controller/history/missing_devices.h"
#include "controller/history/watch.h"
#include "controller/inventory/inventory.h"
#include "controller/inventory/known_file.h"
#include "controller/link/link_pass.h"
#include "controller/link/vlan_links.h"
#include "controller/notify/dispatcher.h"
#include "controller/notify/secret_option.h"
#include "controller/passive/passive_book.h"
#include "controller/passive/passive_listener.h"
#include "controller/passive/present_hosts.h"
#include "controller/state/state_store.h"
#include "controller/sweep/progress.h"
#include "controller/sweep/sweep.h"
#include "controller/system/console.h"
#include "controller/system/event_loop.h"
#include "controller/system/files.h"
#include "controller/system/interruptions.h"
#include "controller/system/limits.h"
#include "controller/system/link_socket.h"
#include "controller/system/neighbour_table.h"
#include "controller/system/privileges.h"
#include "controller/system/worker_host.h"
#include "controller/web/dashboard.h"

namespace hostsweep::controller {
namespace {

// What every sweep of the run shares.
struct RunSetup {
  const Options& options;
  const std::vector<Address>& addresses;
  const SweepRun& run;
  OutputChannel& output;
  OutputChannel& errors;
  const SweepMeans& means;
  const VendorOf& vendorOf;    // the makers' registries, read once for every sweep
  const Inventory* inventory;  // --known
  EventLoop& loop;             // the controller's one loop, every sweep's and the waits between
  PassiveSocket* passive;      // what a watch hears between sweeps; none where it cannot
  std::string_view whyNoPassive;
};

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

bool WriteFailed(const OutputChannel& output) {
  return output.Outcome() == WriteOutcome::kReaderGone || output.Outcome() == WriteOutcome::kFailed;
}

// A failed write of the results ends the sweep; the reader having gone is
// no news to the user (a pager quit, `| head`), as for other tools.
int OutputFailed(const OutputChannel& output) {
  if (output.Outcome() == WriteOutcome::kFailed) {
    std::cerr << "hostsweep: cannot write the results: " << output.Problem() << "\n";
  }
  return kExitSystem;
}

// Runs the sweep, handing each round's finished rows to `stream` under the
// progress line (on a terminal, unless -q); false when it was interrupted or
// its output could no longer be written.
bool SweepShowingProgress(const RunSetup& setup, Sweep& sweep, Sinks& sinks) {
  // The progress line's own terminal controls go around the masking.
  std::ostream terminal(&setup.errors);
  std::optional<ProgressLine> progress;
  if (!setup.options.quiet && IsTerminal(stderr)) {
    progress.emplace(terminal);
  }
  const bool finished = sweep.Run([&](const ResultBook& book) {
    if (progress && sinks.Stream().HasReady(book)) {
      progress->Clear();
    }
    sinks.Stream().WriteReady(book);
    if (progress) {
      progress->Update(book.Done(), setup.addresses.size(), book.Found());
    }
    // A results file that cannot be written ends the sweep, as standard output does.
    return setup.output.Outcome() == WriteOutcome::kWritten && !sinks.AnyFileFailed();
  });
  if (progress) {
    progress->Clear();
  }
  return finished;
}

// What the sweep's end means for the exit status, said on standard error.
int ExitStatusOf(const RunSetup& setup, const Sweep& sweep, Sinks& sinks, bool finished) {
  if (setup.options.verbose) {
    const SweepCounts& counts = sweep.Counts();
    std::cerr << "hostsweep: " << counts.duplicateReports << " duplicate and "
              << counts.unknownReports << " stray reports ignored, " << counts.overdueBatches
              << " overdue batches ended\n";
  }
  if (const auto* failed = sinks.Close()) {
    std::cerr << "hostsweep: cannot write the results to " << failed->path << "\n";
    return kExitSystem;
  }
  if (WriteFailed(setup.output)) {
    return OutputFailed(setup.output);
  }
  if (!finished) {
    std::cerr << "hostsweep: interrupted: " << sweep.Book().Done() << " of "
              << setup.addresses.size() << " addresses done\n";
    return kExitInterrupted;
  }
  if (sinks.AnyChange()) {
    return kExitChanged;
  }
  return sweep.Book().Found() > 0 ? kExitFound : kExitNoneFound;
}

int RunSweep(const RunSetup& setup, RowTaker taker) {
  const auto began = std::chrono::steady_clock::now();
  const Options& options = setup.options;
  Sinks sinks(options, setup.run);
  const std::string workerPath = WorkerPathOf(options);
  const std::string whyNoEchoes = options.namesOnly ? std::string{} : WhyNoEchoes(workerPath);
  const bool echoes = whyNoEchoes.empty();
  const auto host =
      MakeWorkerHost(setup.loop, workerPath, /*sendsEchoes=*/echoes && !options.namesOnly);
  SweepStages stages(options, setup.addresses, setup.means, setup.loop);
  const std::size_t echoPathCount = stages.EchoPathCount(setup.addresses.size());
  if (!echoes) {
    CheckSweepWithoutEchoes(whyNoEchoes, echoPathCount, setup.addresses.size());
  }
  Sweep sweep(setup.addresses, SettingsFor(options, echoPathCount, echoes), setup.loop, *host,
              std::cerr, stages.ForSweep(), stages.LinkPass());
  std::ostream results(&setup.output);
  sinks.Connect(results, taker, setup.vendorOf);
  const bool finished = SweepShowingProgress(setup, sweep, sinks);
  sinks.Stream().Finish(sweep.Book(), finished ? SweepEnd::kComplete : SweepEnd::kInterrupted,
                        stages.Ipv6OnlyRows(sweep.Book(), setup.vendorOf));
  if (const auto warning = UncheckedWarning(sweep.Book())) {
    std::cerr << *warning << "\n";
  }
  // A watch says each conflict once, when it starts (ConflictBook).
  const ArpPass* linkPass = stages.LinkPass();
  std::vector<LinkConflict> conflicts =
      linkPass ? linkPass->Conflicts() : std::vector<LinkConflict>{};
  if (taker.conflicts != nullptr) {
    *taker.conflicts = std::move(conflicts);
  } else if (!options.quiet) {
    for (const LinkConflict& conflict : conflicts) {
      std::cerr << ConflictWarning(conflict) << "\n";
    }
  }
  const int status = ExitStatusOf(setup, sweep, sinks, finished);
  // Once per sweep it would be noise in a watch, which prints changes alone.
  const bool whole = status == kExitFound || status == kExitNoneFound || status == kExitChanged;
  if (whole && !options.quiet && taker.watch == nullptr) {
    std::cerr << SweepSummary(sweep.Book(), options.namesOnly,
                              std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - began))
              << "\n";
  }
  return status;
}

// The state database for --state, opened and locked before any sweep, with
// a queue for each of `receivers`' sinks; none without it.
std::unique_ptr<StateStore> OpenState(const RunSetup& setup, const Receivers& receivers) {
  if (setup.options.stateFile.empty()) {
    return nullptr;
  }
  return OpenStateStore(setup.options.stateFile, setup.options.goneAfter, setup.vendorOf,
                        receivers.QueueNames());
}

// The round's changes as the watch tells them: as they are, or as the
// inventory (--known) weighs them. `firstSweep`: the absences of devices it
// expects always are told too.
EventTelling TellingFor(const RunSetup& setup, const SweepRows& rows, bool firstSweep,
                        std::int64_t now) {
  const Inventory* inventory = setup.inventory;
  EventTelling telling{.announceExisting = setup.options.announceExisting};
  telling.awayAfterOf = [inventory,
                         awayAfter = setup.options.awayAfter.count()](const SeenHost& host) {
    const std::int64_t own = FactsOf(inventory, host).awayAfter;
    return own > 0 ? own : awayAfter;
  };
  if (inventory == nullptr) {
    return telling;
  }
  const bool unknownOnly = setup.options.unknownOnly;
  telling.told = [inventory, &rows, firstSweep, unknownOnly, now](
                     std::vector<WatchEvent> round, const std::vector<KnownHost>& known) {
    return InventoryEvents(std::move(round), *inventory, rows, known, firstSweep, unknownOnly, now);
  };
  telling.factsOf = [inventory](const SeenHost& host) { return FactsOf(inventory, host); };
  return telling;
}

// What the sweep found, recorded at `now`, with the events told; a commit
// that fails is said, and the state before it kept. Only whole sweeps are
// recorded. A baseline is said in the one line that stands for its hosts.
std::optional<std::vector<WatchEvent>> Recorded(StateStore& store,
                                                const std::vector<SeenHost>& found,
                                                const std::vector<Address>& swept, bool ipv6,
                                                std::int64_t now, const EventTelling& telling) {
  try {
    RecordedSweep recorded = store.Record(found, swept, ipv6, now, telling);
    if (recorded.baseline) {
      std::cerr << "hostsweep: " << *recorded.baseline
                << (*recorded.baseline == 1 ? " device" : " devices")
                << " recorded; changes are told from now on\n";
    }
    return std::move(recorded.told);
  } catch (const SystemError& error) {
    std::cerr << "hostsweep: --state: " << error.what() << "\n";
    return std::nullopt;
  }
}

// After each recorded sweep: what the observers (--mqtt, --metrics) show.
class SweepReporter {
 public:
  SweepReporter(const RunSetup& setup, const Receivers& receivers, StateStore* store)
      : setup_(setup), receivers_(receivers), store_(store) {}

  void Count(const std::vector<WatchEvent>& told) {
    for (const WatchEvent& event : told) {
      ++eventsTold_[event.change];
    }
  }

  void SweepEnded(const std::vector<KnownHost>& known, std::int64_t now,
                  std::chrono::milliseconds duration, std::size_t swept,
                  const std::vector<LinkConflict>& conflicts) {
    if (receivers_.observers.empty()) {
      return;
    }
    SweepReport report{.time = now,
                       .duration = duration,
                       .swept = swept,
                       .devices = DeviceStatuses(known, setup_.inventory, setup_.vendorOf),
                       .eventsTold = eventsTold_,
                       .conflicts = conflicts};
    if (store_ != nullptr) {
      for (const std::string& name : receivers_.QueueNames()) {
        report.sinks.push_back(store_->Queues().Status(name));
      }
    }
    for (SweepObserver* observer : receivers_.observers) {
      observer->SweepEnded(report);
    }
  }

 private:
  const RunSetup& setup_;
  const Receivers& receivers_;
  StateStore* store_;
  std::map<Change, std::uint64_t> eventsTold_;
};

// The queued sinks' deliveries, with --state and a sink to deliver to.
std::optional<Dispatcher> DispatcherFor(const Receivers& receivers, StateStore* store) {
  std::optional<Dispatcher> dispatcher;
  if (store != nullptr && !receivers.sinks.empty()) {
    dispatcher.emplace(store->Queues(), receivers.Sinks(), std::cerr);
  }
  return dispatcher;
}

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

std::chrono::milliseconds SinceThen(std::chrono::steady_clock::time_point then) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               then);
}

// The round's events as the watch tells them: recorded with --state, else
// matched in memory; none when the sweep could not be recorded.
std::optional<std::vector<WatchEvent>> WatchEvents(const RunSetup& setup, StateStore* store,
                                                   WatchBook& book, const SweepRows& rows,
                                                   const EventTelling& telling, std::int64_t now) {
  if (store != nullptr) {
    return Recorded(*store, rows.Found(), rows.SweptAddresses(), setup.options.ipv6, now, telling);
  }
  book.awayAfterOf = telling.awayAfterOf;
  std::vector<WatchEvent> events = WatchRound(book, rows.Found(), rows.Swept(), now);
  return telling.told ? telling.told(std::move(events), book.known) : events;
}

// On standard error, unless -q: what started, as warnings, and what ended.
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

DashboardSettings DashboardSettingsOf(const Options& options) {
  return {.address = options.web,
          .password = options.webPassword,
          .certificate = options.webCertificate,
          .key = options.webKey,
          .stateFile = options.stateFile,
          .knownFile = options.knownFile,
          .watch = options.watchInterval.has_value()};
}

// --web beside the watch: started once the state database is there to read,
// and shown each recorded sweep as the other observers are (/metrics).
std::unique_ptr<SweepObserver> DashboardFor(const RunSetup& setup, Receivers& receivers) {
  if (setup.options.web.empty()) {
    return nullptr;
  }
  auto dashboard = StartDashboard(DashboardSettingsOf(setup.options));
  receivers.observers.push_back(dashboard.get());
  return dashboard;
}

// Piped, the watch's lines stay as scripts split them; a person reads them aligned.
WatchLineForm WatchLineFormOf(const Options& options) {
  if (options.format == Format::kJson) {
    return WatchLineForm::kJson;
  }
  return IsTerminal(stdout) ? WatchLineForm::kAligned : WatchLineForm::kTabs;
}

// Each event of the round as a line of the watch's output.
void WriteWatchLines(std::ostream& lines, const RunSetup& setup, WatchLineForm form,
                     const std::vector<WatchEvent>& events) {
  for (const auto& event : events) {
    lines << WatchLine(event, setup.vendorOf, form, FactsOf(setup.inventory, event.host)) << '\n'
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

// What a watch hears between sweeps and during them, told as the sweeps'
// events are: a device among the targets that no present host is, at once;
// a present one seen again (its away_after counts from now); a conflict
// said once. Only once the first sweep is recorded: before it, everything
// is new.
class BetweenSweeps {
 public:
  using Tell = std::function<void(const std::vector<WatchEvent>&)>;
  BetweenSweeps(const RunSetup& setup, StateStore* store, WatchBook& book, Tell tell)
      : setup_(setup),
        store_(store),
        book_(book),
        tell_(std::move(tell)),
        targets_(setup.addresses.begin(), setup.addresses.end()),
        passive_(setup.means.deviceRules) {
    if (setup.passive != nullptr) {
      listener_.emplace(setup.loop, *setup.passive, [this](const Sighting& s) { Hear(s); });
    } else if (setup.options.verbose) {
      std::cerr << "hostsweep: " << setup.whyNoPassive << "\n";
    }
  }

  // After each recorded sweep: what the frames are weighed against.
  void SweepRecorded() {
    present_ = PresentHosts(Known());
    recorded_ = true;
  }

 private:
  [[nodiscard]] const std::vector<KnownHost>& Known() const {
    return store_ != nullptr ? store_->Known() : book_.known;
  }

  void Hear(const Sighting& sighting) {
    if (!recorded_ || (sighting.address && !targets_.contains(*sighting.address))) {
      return;
    }
    const auto now = EpochSeconds(std::chrono::system_clock::now());
    const PassiveVerdict verdict = passive_.Weigh(
        sighting, [this](Address address) { return present_.HolderOf(address); }, now);
    if (const auto* conflict = std::get_if<LinkConflict>(&verdict)) {
      if (!setup_.options.quiet) {
        std::cerr << ConflictWarning(*conflict) << "\n";
      }
      return;
    }
    const auto* host = std::get_if<SeenHost>(&verdict);
    if (host == nullptr) {
      return;
    }
    if (const auto record = present_.RecordOf(*host->mac)) {
      SeenAgain(*record, now);
      return;
    }
    TellArrival(*host, now);
  }

  void SeenAgain(std::size_t record, std::int64_t now) {
    if (store_ == nullptr) {
      book_.known[record].lastSeen = now;
      book_.known[record].missed = 0;
      return;
    }
    try {
      store_->SeenAgain(record, now);
    } catch (const SystemError& error) {
      std::cerr << "hostsweep: --state: " << error.what() << "\n";
    }
  }

  void TellArrival(const SeenHost& host, std::int64_t now) {
    const SweepRows none(setup_.options.ipv6);
    const EventTelling telling = TellingFor(setup_, none, /*firstSweep=*/false, now);
    std::optional<std::vector<WatchEvent>> events;
    if (store_ != nullptr) {
      events = Recorded(*store_, {host}, {}, setup_.options.ipv6, now, telling);
    } else {
      book_.awayAfterOf = telling.awayAfterOf;
      events = WatchRound(book_, {host}, none.Swept(), now);
      if (telling.told) {
        events = telling.told(std::move(*events), book_.known);
      }
    }
    if (events) {
      tell_(*events);
      present_ = PresentHosts(Known());
    }
  }

  const RunSetup& setup_;
  StateStore* store_;
  WatchBook& book_;
  Tell tell_;
  std::unordered_set<Address> targets_;
  PassiveBook passive_;
  PresentHosts present_;
  bool recorded_ = false;
  std::optional<PassiveListener> listener_;  // last: it stops before the rest goes
};

// Sweeps every interval until interrupted, printing each change once and,
// with --state, recording every whole sweep. A sweep that cannot be recorded
// is said on standard error and the watch goes on from the state before it:
// its changes are told with the next sweep that is recorded.
// `readKnownAgain` before each sweep: the --known file's changes taken.
int RunWatch(const RunSetup& setup, const std::function<void()>& readKnownAgain) {
  const Options& options = setup.options;
  Receivers receivers = MakeReceivers(options);
  const std::unique_ptr<StateStore> store = OpenState(setup, receivers);
  const auto dashboard = DashboardFor(setup, receivers);
  SweepReporter reporter(setup, receivers, store.get());
  std::optional<Dispatcher> dispatcher = DispatcherFor(receivers, store.get());
  WatchBook book{.goneAfter = options.goneAfter};
  std::ostream lines(&setup.output);
  // Until a sweep is recorded: the absences it tells are told once.
  bool firstSweep = true;
  ConflictBook conflicts;
  const WatchLineForm form = WatchLineFormOf(options);
  auto next = std::chrono::steady_clock::now() + *options.watchInterval;
  BetweenSweeps between(setup, store.get(), book, [&](const std::vector<WatchEvent>& events) {
    WriteWatchLines(lines, setup, form, events);
    reporter.Count(events);
    if (dispatcher) {
      dispatcher->SweepRecorded(next);
    }
  });
  for (;;) {
    readKnownAgain();
    SweepRows rows(options.ipv6);
    std::vector<LinkConflict> heard;
    const auto began = std::chrono::steady_clock::now();
    const int status = RunSweep(
        setup,
        {.earlier = nullptr, .watch = &rows, .inventory = setup.inventory, .conflicts = &heard});
    if (status != kExitFound && status != kExitNoneFound) {
      return status;
    }
    SayConflicts(conflicts.Round(heard), options.quiet);
    const auto now = EpochSeconds(std::chrono::system_clock::now());
    const EventTelling telling = TellingFor(setup, rows, firstSweep, now);
    const auto events = WatchEvents(setup, store.get(), book, rows, telling, now);
    WriteWatchLines(lines, setup, form, events.value_or(std::vector<WatchEvent>{}));
    if (options.verbose) {
      SayHeartbeat(now, rows, events ? events->size() : 0, form);
    }
    if (events) {
      firstSweep = false;
      between.SweepRecorded();
      reporter.Count(*events);
      reporter.SweepEnded(store ? store->Known() : book.known, now, SinceThen(began),
                          rows.SweptCount(), heard);
    }
    if (WriteFailed(setup.output)) {
      return OutputFailed(setup.output);
    }
    // Deliveries never delay the next sweep by more than one's bound.
    next = std::chrono::steady_clock::now() + *options.watchInterval;
    if (dispatcher && events) {
      dispatcher->SweepRecorded(next);
    }
    if (WaitForNextSweep(setup.loop, next, dispatcher)) {
      std::cerr << "hostsweep: interrupted between sweeps\n";
      return kExitInterrupted;
    }
  }
}

// One sweep with --state: its rows show what changed since what the
// database knows, as with --compare, and the sweep is recorded. A sweep
// that cannot be recorded ends with exit status 4.
int RunStateSweep(const RunSetup& setup) {
  const Receivers receivers = MakeReceivers(setup.options);
  const std::unique_ptr<StateStore> store = OpenState(setup, receivers);
  SweepReporter reporter(setup, receivers, store.get());
  const EarlierSweep present = store->Present();
  SweepRows rows(setup.options.ipv6);
  std::vector<LinkConflict> heard;
  const auto began = std::chrono::steady_clock::now();
  const int status = RunSweep(setup, {.earlier = &present,
                                      .watch = nullptr,
                                      .inventory = setup.inventory,
                                      .recorder = &rows,
                                      .conflicts = &heard});
  SayConflicts({.started = heard, .ended = {}}, setup.options.quiet);
  if (status != kExitFound && status != kExitNoneFound && status != kExitChanged) {
    return status;
  }
  // Each run goes on from the last: an absence is told when a device
  // expected always goes, not at every run.
  const auto now = EpochSeconds(std::chrono::system_clock::now());
  const auto events = Recorded(*store, rows.Found(), rows.SweptAddresses(), setup.options.ipv6, now,
                               TellingFor(setup, rows, /*firstSweep=*/false, now));
  if (!events) {
    return kExitSystem;
  }
  reporter.Count(*events);
  reporter.SweepEnded(store->Known(), now, SinceThen(began), rows.SweptCount(), heard);
  // Delivered once; what is not confirmed waits for the next run.
  if (auto dispatcher = DispatcherFor(receivers, store.get())) {
    dispatcher->SweepRecorded(std::chrono::steady_clock::time_point::max());
  }
  return status;
}

// The user's inventory (--known), read before anything else is done.
std::optional<Inventory> InventoryOf(const Options& options) {
  if (options.knownFile.empty()) {
    return std::nullopt;
  }
  return ReadInventory(options.knownFile);
}

// Between a watch's sweeps: the --known file read again when it changed (the
// dashboard's edits, the user's own); a faulty one is said, and the
// inventory before it kept.
void ReadKnownAgain(std::optional<KnownFile>& file, std::optional<Inventory>& inventory) {
  try {
    if (auto fresh = file ? file->Changed() : std::nullopt) {
      *inventory = std::move(*fresh);
    }
  } catch (const UsageError& fault) {
    std::cerr << "hostsweep: " << fault.what() << "; the inventory read before is kept\n";
  }
}

// --history: no sweep; 1 when no device matches, as a sweep that finds none.
int RunHistory(const Options& options, OutputChannel& output) {
  const auto inventory = InventoryOf(options);
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

// What the sources read once however many sweeps there are: the device
// rules, the DHCP lease files, the routers to ask, the VLANs' trunk ports.
struct ReadOnce {
  explicit ReadOnce(const Options& options)
      : deviceRules(options.deviceTypes ? ReadDeviceRules(DeviceRulesFile(), std::cerr)
                                        : std::optional<DeviceRules>{}),
        // An unknown trunk port (or Windows, which tags nothing) is a usage
        // error before any sweep.
        vlanLinks(VlanInterfaces(options.vlans, options.interfaceName, TrunkPort)) {
    if (!options.leaseFiles.empty()) {
      leases.emplace(options.leaseFiles, std::cerr);
    }
    if (!options.snmpAgents.empty()) {
      routers.emplace(options.snmpAgents, options.snmpAuth.empty()
                                              ? SnmpAuth{}
                                              : ParseSnmpAuth(SecretOption(options.snmpAuth)));
    }
  }

  SweepMeans MeansWith(const OpenedMeans& means) {
    return {means.linkSocket.get(),
            means.whyNoLinkSocket,
            means.ipv6Prober.get(),
            deviceRules ? &*deviceRules : nullptr,
            leases ? &*leases : nullptr,
            routers ? &*routers : nullptr,
            &vlanLinks};
  }

  std::optional<DeviceRules> deviceRules;
  std::optional<LeaseFiles> leases{};
  std::optional<RouterTables> routers{};
  std::vector<LinkInterface> vlanLinks;
};

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
  const auto addresses = CollectAddresses(options, invocation.inputClosed);
  std::optional<EarlierSweep> earlier;
  if (!options.compareFile.empty()) {
    earlier.emplace(ReadEarlierSweep(options.compareFile));
  }
  std::optional<KnownFile> knownFile;
  std::optional<Inventory> inventory;
  if (!options.knownFile.empty()) {
    inventory = knownFile.emplace(options.knownFile).Changed();
  }
  const SweepRun run{.commandLine = invocation.commandLine,
                     .start = std::chrono::system_clock::now(),
                     .addressCount = addresses.size()};
  ReadOnce readOnce(options);
  const SweepMeans sweepMeans = readOnce.MeansWith(means);
  // The makers' registries, read once however many sweeps there are.
  // HOSTSWEEP_IEEE_DATA points elsewhere, for registries kept apart from the
  // system's (another distribution's place, a fresher download).
  const char* registries = std::getenv("HOSTSWEEP_IEEE_DATA");
  LazyVendorRegistry vendors(registries != nullptr ? registries : VendorRegistryFolder(),
                             std::cerr);
  const VendorOf vendorOf = [&vendors](const MacAddress& mac) { return vendors.VendorOf(mac); };
  const Inventory* known = inventory ? &*inventory : nullptr;
  EventLoop loop;
  // Only a watch listens between sweeps.
  if (!options.watchInterval) {
    means.passiveSocket.reset();
  }
  const RunSetup setup{options,           addresses, run,   output, errors,
                       sweepMeans,        vendorOf,  known, loop,   means.passiveSocket.get(),
                       means.whyNoPassive};
  if (options.watchInterval) {
    return RunWatch(setup, [&] { ReadKnownAgain(knownFile, inventory); });
  }
  if (!options.stateFile.empty()) {
    return RunStateSweep(setup);
  }
  return RunSweep(setup,
                  {.earlier = earlier ? &*earlier : nullptr, .watch = nullptr, .inventory = known});
}

}  // namespace hostsweep::controller
