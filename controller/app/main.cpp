#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "controller/app/exit_status.h"
#include "controller/app/options.h"
#include "controller/app/result_files.h"
#include "controller/base/errors.h"
#include "controller/base/printable.h"
#include "controller/base/time_text.h"
#include "controller/history/change_writer.h"
#include "controller/history/earlier_results.h"
#include "controller/history/watch.h"
#include "controller/ipv6/ipv6_neighbours.h"
#include "controller/link/link_layer.h"
#include "controller/link/link_pass.h"
#include "controller/link/vendors.h"
#include "controller/names/name_queries.h"
#include "controller/output/output_channel.h"
#include "controller/sweep/progress.h"
#include "controller/sweep/sweep.h"
#include "controller/system/console.h"
#include "controller/system/files.h"
#include "controller/system/ipv6_prober.h"
#include "controller/system/limits.h"
#include "controller/system/link_socket.h"
#include "controller/system/privileges.h"
#include "controller/system/udp_network.h"
#include "controller/system/worker_host.h"
#include "controller/targets/local_networks.h"
#include "controller/targets/targets.h"

namespace hostsweep::controller {
namespace {

// The networks --localnet names, each shown on standard error.
std::vector<std::string> LocalTargets() {
  auto targets = LocalNetworkTargets(ReadInterfaceNetworks());
  if (targets.empty()) {
    std::cerr << "hostsweep: --localnet: no interface is up with an IPv4 network\n";
  }
  for (const auto& target : targets) {
    std::cerr << "hostsweep: --localnet: sweeping " << target << "\n";
  }
  return targets;
}

// Standard error through an output channel while main runs, every line
// masked: messages quote what came from outside (interface names, paths,
// targets, worker messages).
class ErrorsThrough {
 public:
  explicit ErrorsThrough(OutputChannel& errors)
      : printable_(errors), before_(std::cerr.rdbuf(&printable_)) {}
  ~ErrorsThrough() { std::cerr.rdbuf(before_); }
  ErrorsThrough(const ErrorsThrough&) = delete;
  ErrorsThrough& operator=(const ErrorsThrough&) = delete;
  ErrorsThrough(ErrorsThrough&&) = delete;
  ErrorsThrough& operator=(ErrorsThrough&&) = delete;

 private:
  PrintableLines printable_;
  std::streambuf* before_;
};

std::vector<Address> CollectAddresses(const Options& options, bool inputClosed) {
  std::vector<std::string> targets =
      options.localNetworks ? LocalTargets() : std::vector<std::string>{};
  for (const auto& [text, isFile] : options.targets) {
    if (!isFile) {
      targets.push_back(text);
      continue;
    }
    if (text == "-" && inputClosed) {
      throw UsageError("-f -: standard input is closed");
    }
    const auto lines = ReadTargetFile(text);
    targets.insert(targets.end(), lines.begin(), lines.end());
  }
  return ExpandTargets(targets);
}

// Retries go to an address that has not answered half a second after its
// request (as arp-scan's first timeout); a last request is given a second
// more, for a host whose Wi-Fi adapter dozes between beacons.
constexpr std::chrono::milliseconds kArpRetryAfter{500};
constexpr std::chrono::milliseconds kArpLastWait{1000};

// The link pass over the addresses on a directly connected network, or
// nothing (the echo path for all), said with -v.
std::unique_ptr<ArpPass> PrepareLinkPass(const Options& options,
                                         const std::vector<Address>& addresses, LinkSocket* socket,
                                         const std::string& whyNoSocket) {
  if (!options.linkPass) {
    if (options.verbose && !options.namesOnly) {
      std::cerr << "hostsweep: --no-arp: every address takes the echo path\n";
    }
    return nullptr;
  }
  if (socket == nullptr) {
    if (options.verbose) {
      std::cerr << "hostsweep: " << whyNoSocket << "; every address takes the echo path\n";
    }
    return nullptr;
  }
  auto interfaces = socket->Interfaces();
  const auto plan = PlanLinkPass(addresses, interfaces);
  if (options.verbose) {
    for (const auto& line : DescribeLinkPlan(interfaces, plan)) {
      std::cerr << "hostsweep: " << line << "\n";
    }
  }
  if (std::none_of(plan.begin(), plan.end(), [](const auto& via) { return via.has_value(); })) {
    return nullptr;
  }
  socket->Listen();
  const LinkPassSettings settings{.rate = static_cast<double>(options.arpRate),
                                  .tries = options.arpTries,
                                  .retryAfter = kArpRetryAfter,
                                  .lastWait = kArpLastWait};
  return std::make_unique<ArpPass>(addresses, std::move(interfaces), plan, *socket, settings,
                                   std::cerr, [] { return std::chrono::steady_clock::now(); });
}

SweepSettings SettingsFor(const Options& options, std::size_t addressCount) {
  return {.jobs = options.jobs,
          .batchSize = options.batchSize.value_or(ChooseBatchSize(addressCount, options.jobs)),
          .pause = std::to_string(options.pause),
          .namesOnly = options.namesOnly,
          .verbose = options.verbose,
          .neighbourTable = NeighbourTableSize(),
          .mostChains = MostChainsAtOnce()};
}

void ReportCounts(const SweepCounts& counts) {
  std::cerr << "hostsweep: " << counts.duplicateReports << " duplicate and "
            << counts.unknownReports << " stray reports ignored, " << counts.overdueBatches
            << " overdue batches ended\n";
}

// A failed write of the results ends the sweep; the reader having gone is
// no news to the user (a pager quit, `| head`), as for other tools.
int OutputFailed(const OutputChannel& output) {
  if (output.Outcome() == WriteOutcome::kFailed) {
    std::cerr << "hostsweep: cannot write the results: " << output.Problem() << "\n";
  }
  return kExitSystem;
}

// The table sized to the terminal when it goes to one: 80 columns when the
// terminal does not say.
std::optional<std::size_t> TableWidth(const Options& options) {
  constexpr std::size_t kUsualColumns = 80;
  if (options.format != Format::kTable || !IsTerminal(stdout)) {
    return std::nullopt;
  }
  const std::size_t columns = TerminalColumns();
  return columns == 0 ? kUsualColumns : columns;
}

// --ipv6's search on the interfaces that hold a swept network, said with -v.
std::optional<Ipv6Search> StartIpv6Search(const Options& options,
                                          const std::vector<Address>& addresses,
                                          Ipv6Prober* prober) {
  if (prober == nullptr) {
    return std::nullopt;
  }
  auto interfaces = InterfacesSwept(ReadInterfaceNetworks(), addresses);
  if (options.verbose) {
    for (const auto& name : interfaces) {
      std::cerr << "hostsweep: --ipv6: asking all IPv6 nodes on " << name << "\n";
    }
  }
  return std::optional<Ipv6Search>(std::in_place, *prober, std::move(interfaces), Ipv6Settings{},
                                   std::cerr);
}

// What the sweep may send with, opened while the controller still had its
// capabilities: a packet socket for the link pass (or why there is none) and
// the IPv6 prober (--ipv6).
struct SweepMeans {
  LinkSocket* linkSocket;
  const std::string& whyNoLinkSocket;
  Ipv6Prober* ipv6Prober;
};

// Runs `body`; an error it raises is said on standard error and becomes its
// exit status.
int ExitingOnErrors(const std::function<int()>& body) {
  try {
    return body();
  } catch (const EarlierResultsError& error) {
    std::cerr << "hostsweep: " << error.what() << "\n";
    return kExitEarlierResults;
  } catch (const UsageError& error) {
    std::cerr << "hostsweep: " << error.what() << "\n";
    return kExitUsage;
  } catch (const SystemError& error) {
    std::cerr << "hostsweep: " << error.what() << "\n";
    return kExitSystem;
  }
}

// What a sweep's rows go to besides the sweep itself: the earlier sweep they
// are compared with (--compare), or the watch that takes them all instead of
// the formats (--watch, which takes no results file either).
struct RowUse {
  const EarlierSweep* earlier = nullptr;
  ResultWriter* watch = nullptr;
};

// The makers' registries, read once however many sweeps there are.
// HOSTSWEEP_IEEE_DATA points elsewhere, for registries kept apart from the
// system's (another distribution's place, a fresher download).
LazyVendorRegistry MakeVendorRegistry() {
  const char* registries = std::getenv("HOSTSWEEP_IEEE_DATA");
  return {registries != nullptr ? registries : VendorRegistryFolder(), std::cerr};
}

int RunSweep(const Options& options, const std::vector<Address>& addresses, OutputChannel& output,
             OutputChannel& errors, const SweepMeans& means, const SweepRun& run,
             LazyVendorRegistry& vendors, RowUse use) {
  auto files = OpenResultFiles(options, run);
  const std::string workerPath = options.worker.empty() ? DefaultWorkerPath() : options.worker;
  CheckWorkerPath(workerPath);
  if (!options.namesOnly) {
    CheckEchoRights(workerPath);
  }
  const auto host = MakeWorkerHost(workerPath);
  // Started once the worker host has set the signals: its thread shares them.
  auto ipv6Search = StartIpv6Search(options, addresses, means.ipv6Prober);
  const auto linkPass =
      PrepareLinkPass(options, addresses, means.linkSocket, means.whyNoLinkSocket);
  const auto sweepBegan = std::chrono::steady_clock::now();
  if (!options.namesOnly) {
    std::this_thread::sleep_for(NeighbourAgeGrain());
  }
  const SweepSettings settings =
      SettingsFor(options, addresses.size() - (linkPass ? linkPass->CoveredCount() : 0));
  const auto network = options.extraNames ? MakeUdpNetwork() : nullptr;
  std::optional<NameQueries> names;
  std::optional<NameStage> nameStage;
  if (network) {
    nameStage.emplace(names.emplace(*network, MostNameSockets()));
  }
  std::optional<Ipv6Stage> ipv6Stage;
  if (ipv6Search) {
    ipv6Stage.emplace([&ipv6Search](auto wait) { return ipv6Search->Neighbours(wait); },
                      nameStage ? &*nameStage : nullptr);
  }
  Stage* afterLinkLayer = ipv6Stage   ? static_cast<Stage*>(&*ipv6Stage)
                          : nameStage ? &*nameStage
                                      : nullptr;
  LinkLayerStage linkLayer(
      ReadNeighbourTable, std::cerr, options.verbose, afterLinkLayer,
      [&linkPass](Address address) { return linkPass ? linkPass->AnswerOf(address) : nullptr; },
      sweepBegan);
  // A name-only sweep sends nothing on the link and has its names already.
  Sweep sweep(addresses, settings, *host, std::cerr, options.namesOnly ? nullptr : &linkLayer,
              linkPass.get());
  std::ostream results(&output);
  const VendorOf vendorOf = [&vendors](const MacAddress& mac) { return vendors.VendorOf(mac); };
  std::unique_ptr<ResultWriter> writer;
  std::vector<ResultWriter*> writers{use.watch};
  if (use.watch == nullptr) {
    writer = StandardOutputWriter(options, results, run, TableWidth(options));
    writers = {writer.get()};
  }
  for (const auto& file : files) {
    writers.push_back(file->writer.get());
  }
  std::optional<ChangeWriter> changes;
  if (use.earlier != nullptr) {
    writers = {
        &changes.emplace(*use.earlier, writers, options.changesOnly, options.ipv6, vendorOf)};
  }
  ResultStream stream(writers, options.foundOnly, vendorOf);
  // The progress line's own terminal controls go around the masking.
  std::ostream terminal(&errors);
  std::optional<ProgressLine> progress;
  if (!options.quiet && IsTerminal(stderr)) {
    progress.emplace(terminal);
  }
  const bool finished = sweep.Run([&](const ResultBook& book) {
    if (progress) {
      progress->Clear();
    }
    stream.WriteReady(book);
    if (progress) {
      progress->Update(book.Done(), addresses.size(), book.Found());
    }
    // A results file that cannot be written ends the sweep, as standard output does.
    return output.Outcome() == WriteOutcome::kWritten && FailedFile(files) == nullptr;
  });
  if (progress) {
    progress->Clear();
  }
  stream.Finish(sweep.Book(), finished ? SweepEnd::kComplete : SweepEnd::kInterrupted,
                ipv6Search ? Ipv6OnlyViews(ipv6Search->AllNeighbours(), sweep.Book(), vendorOf)
                           : std::vector<HostView>{});
  if (options.verbose) {
    ReportCounts(sweep.Counts());
  }
  for (auto& file : files) {
    file->stream.close();
  }
  if (const auto* failed = FailedFile(files)) {
    std::cerr << "hostsweep: cannot write the results to " << failed->path << "\n";
    return kExitSystem;
  }
  if (output.Outcome() == WriteOutcome::kReaderGone || output.Outcome() == WriteOutcome::kFailed) {
    return OutputFailed(output);
  }
  if (!finished) {
    std::cerr << "hostsweep: interrupted: " << sweep.Book().Done() << " of " << addresses.size()
              << " addresses done\n";
    return kExitInterrupted;
  }
  if (changes && changes->AnyChange()) {
    return kExitChanged;
  }
  return sweep.Book().Found() > 0 ? kExitFound : kExitNoneFound;
}

// Sweeps every interval until interrupted, printing each change once and
// keeping what it knows in the state file after every whole sweep.
int RunWatch(const Options& options, const std::vector<Address>& addresses, OutputChannel& output,
             OutputChannel& errors, const SweepMeans& means, const SweepRun& run) {
  std::vector<KnownHost> known;
  if (!options.stateFile.empty()) {
    if (auto read = ReadState(options.stateFile)) {
      known = std::move(*read);
    } else {
      std::cerr << "hostsweep: --state: " << options.stateFile
                << " does not exist yet: every host found is new\n";
    }
    // Written at once: a file that cannot be is found out before any sweep.
    ReplaceFileWhole(options.stateFile, StateDocument(known));
  }
  auto vendors = MakeVendorRegistry();
  const VendorOf vendorOf = [&vendors](const MacAddress& mac) { return vendors.VendorOf(mac); };
  std::ostream lines(&output);
  for (;;) {
    SweepRows rows(options.ipv6);
    const int status = RunSweep(options, addresses, output, errors, means, run, vendors,
                                {.earlier = nullptr, .watch = &rows});
    if (status != kExitFound && status != kExitNoneFound) {
      return status;
    }
    const auto now = EpochSeconds(std::chrono::system_clock::now());
    for (const auto& event : WatchRound(known, rows.Found(), rows.Swept(), now)) {
      lines << WatchLine(event, vendorOf, options.format == Format::kJson) << '\n' << std::flush;
    }
    if (!options.stateFile.empty()) {
      ReplaceFileWhole(options.stateFile, StateDocument(known));
    }
    if (output.Outcome() == WriteOutcome::kReaderGone ||
        output.Outcome() == WriteOutcome::kFailed) {
      return OutputFailed(output);
    }
    if (WaitForInterruption(*options.watchInterval)) {
      std::cerr << "hostsweep: interrupted between sweeps\n";
      return kExitInterrupted;
    }
  }
}

}  // namespace
}  // namespace hostsweep::controller

int main(int argc, char** argv) {
  using namespace hostsweep::controller;
  // Checked before anything is opened. Results nobody can see are no sweep,
  // and the sweep's warnings and interruption notice have nowhere else to go.
  const ClosedStreams closed = HoldClosedStandardStreams();
  if (closed.output || closed.error) {
    if (!closed.error) {
      std::cerr << "hostsweep: standard output is closed, so the results could not be shown; "
                   "redirect it to a file or to /dev/null instead\n";
    }
    return kExitUsage;
  }
  // The one step that may need a capability comes next; every capability
  // goes right after.
  std::string whyNoLinkSocket;
  auto linkSocket = OpenLinkSocket(whyNoLinkSocket);
  std::string whyNoIpv6;
  auto ipv6Prober = OpenIpv6Prober(whyNoIpv6);
  try {
    DropPrivileges();
  } catch (const SystemError& error) {
    std::cerr << "hostsweep: " << error.what() << "\n";
    return kExitSystem;
  }
  OutputChannel output(false);
  OutputChannel errors(true);
  const ErrorsThrough redirected(errors);
  const auto parsed = ParseCommandLine(argc, argv, std::cout, std::cerr);
  if (!parsed.options) {
    return parsed.exitStatus;
  }
  return ExitingOnErrors([&] {
    if (!parsed.options->worker.empty()) {
      ForbidGainingRights();
    }
    if (parsed.options->arpRate > kDefaultArpRate && !MaySetAnyArpRate()) {
      throw UsageError("--rate above " + std::to_string(kDefaultArpRate) + " needs root");
    }
    if (!parsed.options->ipv6) {
      ipv6Prober.reset();
    } else if (!ipv6Prober) {
      throw SystemError(whyNoIpv6);
    }
    const auto addresses = CollectAddresses(*parsed.options, closed.input);
    std::optional<EarlierSweep> earlier;
    if (!parsed.options->compareFile.empty()) {
      earlier.emplace(ReadEarlierSweep(parsed.options->compareFile));
    }
    std::string commandLine = "hostsweep";
    for (int i = 1; i < argc; ++i) {
      commandLine += std::string(" ") + argv[i];
    }
    const SweepRun run{.commandLine = commandLine,
                       .start = std::chrono::system_clock::now(),
                       .addressCount = addresses.size()};
    const SweepMeans means{linkSocket.get(), whyNoLinkSocket, ipv6Prober.get()};
    if (parsed.options->watchInterval) {
      return RunWatch(*parsed.options, addresses, output, errors, means, run);
    }
    auto vendors = MakeVendorRegistry();
    return RunSweep(*parsed.options, addresses, output, errors, means, run, vendors,
                    {.earlier = earlier ? &*earlier : nullptr, .watch = nullptr});
  });
}
