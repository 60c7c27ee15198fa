#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>

#include "controller/errors.h"
#include "controller/exit_status.h"
#include "controller/link_layer.h"
#include "controller/local_networks.h"
#include "controller/name_queries.h"
#include "controller/options.h"
#include "controller/output_channel.h"
#include "controller/platform_host.h"
#include "controller/progress.h"
#include "controller/result_files.h"
#include "controller/result_stream.h"
#include "controller/sweep.h"
#include "controller/targets.h"
#include "controller/udp_network.h"
#include "controller/vendors.h"

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

// Standard error through an output channel while main runs.
class ErrorsThrough {
 public:
  explicit ErrorsThrough(OutputChannel& errors) : before_(std::cerr.rdbuf(&errors)) {}
  ~ErrorsThrough() { std::cerr.rdbuf(before_); }
  ErrorsThrough(const ErrorsThrough&) = delete;
  ErrorsThrough& operator=(const ErrorsThrough&) = delete;
  ErrorsThrough(ErrorsThrough&&) = delete;
  ErrorsThrough& operator=(ErrorsThrough&&) = delete;

 private:
  std::streambuf* before_;
};

std::vector<Address> CollectAddresses(const Options& options) {
  std::vector<std::string> targets =
      options.localNetworks ? LocalTargets() : std::vector<std::string>{};
  targets.insert(targets.end(), options.targets.begin(), options.targets.end());
  for (const auto& file : options.targetFiles) {
    const auto lines = ReadTargetFile(file);
    targets.insert(targets.end(), lines.begin(), lines.end());
  }
  return ExpandTargets(targets);
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

int RunSweep(const Options& options, const std::vector<Address>& addresses, OutputChannel& output,
             const SweepRun& run) {
  auto files = OpenResultFiles(options, run);
  const std::string workerPath = options.worker.empty() ? DefaultWorkerPath() : options.worker;
  CheckWorkerPath(workerPath);
  if (!options.namesOnly) {
    CheckEchoRights(workerPath);
  }
  const auto host = MakeWorkerHost(workerPath);
  // HOSTSWEEP_IEEE_DATA points elsewhere, for registries kept apart from the
  // system's (another distribution's place, a fresher download).
  const char* registries = std::getenv("HOSTSWEEP_IEEE_DATA");
  LazyVendorRegistry vendors(registries != nullptr ? registries : VendorRegistryFolder(),
                             std::cerr);
  LinkLayerEnrichment linkLayer(ReadNeighbourTable, vendors, std::cerr, options.verbose);
  const SweepSettings settings = SettingsFor(options, addresses.size());
  const auto network = options.extraNames ? MakeUdpNetwork() : nullptr;
  std::optional<NameQueries> names;
  std::optional<NameStage> nameStage;
  std::vector<Enrichment*> stages;
  if (!options.namesOnly) {
    stages.push_back(&linkLayer);
    if (network) {
      // After the link layer, which tells the silent hosts.
      // Their sockets come out of the chains' descriptor budget.
      nameStage.emplace(names.emplace(*network, std::min(settings.jobs, settings.mostChains)));
      stages.push_back(&*nameStage);
    }
  }
  Sweep sweep(addresses, settings, *host, std::cerr, stages);
  std::ostream results(&output);
  const auto writer = StandardOutputWriter(options, results, run, TableWidth(options));
  std::vector<ResultStream> streams{ResultStream(*writer, options.foundOnly)};
  for (const auto& file : files) {
    streams.emplace_back(*file->writer, options.foundOnly);
  }
  std::optional<ProgressLine> progress;
  if (!options.quiet && IsTerminal(stderr)) {
    progress.emplace(std::cerr);
  }
  const bool finished = sweep.Run([&](const ResultBook& book) {
    if (progress) {
      progress->Clear();
    }
    for (auto& stream : streams) {
      stream.WriteReady(book);
    }
    if (progress) {
      progress->Update(book.Done(), addresses.size(), book.Found());
    }
    // A results file that cannot be written ends the sweep, as standard output does.
    return output.Outcome() == WriteOutcome::kWritten && FailedFile(files) == nullptr;
  });
  if (progress) {
    progress->Clear();
  }
  for (auto& stream : streams) {
    stream.Finish(sweep.Book(), finished ? SweepEnd::kComplete : SweepEnd::kInterrupted);
  }
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
  return sweep.Book().Found() > 0 ? kExitFound : kExitNoneFound;
}

}  // namespace
}  // namespace hostsweep::controller

int main(int argc, char** argv) {
  using namespace hostsweep::controller;
  OutputChannel output(false);
  OutputChannel errors(true);
  const ErrorsThrough redirected(errors);
  const auto parsed = ParseCommandLine(argc, argv, std::cout, std::cerr);
  if (!parsed.options) {
    return parsed.exitStatus;
  }
  std::vector<Address> addresses;
  try {
    addresses = CollectAddresses(*parsed.options);
  } catch (const UsageError& error) {
    std::cerr << "hostsweep: " << error.what() << "\n";
    return kExitUsage;
  } catch (const SystemError& error) {
    std::cerr << "hostsweep: " << error.what() << "\n";
    return kExitSystem;
  }
  std::string commandLine = "hostsweep";
  for (int i = 1; i < argc; ++i) {
    commandLine += std::string(" ") + argv[i];
  }
  const SweepRun run{.commandLine = commandLine,
                     .start = std::chrono::system_clock::now(),
                     .addressCount = addresses.size()};
  try {
    return RunSweep(*parsed.options, addresses, output, run);
  } catch (const UsageError& error) {
    std::cerr << "hostsweep: " << error.what() << "\n";
    return kExitUsage;
  } catch (const SystemError& error) {
    std::cerr << "hostsweep: " << error.what() << "\n";
    return kExitSystem;
  }
}
