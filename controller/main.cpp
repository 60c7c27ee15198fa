#include <algorithm>
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
#include "controller/printable.h"
#include "controller/progress.h"
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

std::vector<Address> CollectAddresses(const Options& options) {
  std::vector<std::string> targets =
      options.localNetworks ? LocalTargets() : std::vector<std::string>{};
  for (const auto& [text, isFile] : options.targets) {
    if (!isFile) {
      targets.push_back(text);
      continue;
    }
    if (text == "-" && !StandardInputOpen()) {
      throw UsageError("-f -: standard input is closed");
    }
    const auto lines = ReadTargetFile(text);
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

// Checked again as the sweep begins, so that what the table held before
// cannot decide whether a host that ignores echo reads silent (see
// EntriesToRecheck).
void RecheckKnownNeighbours(const std::vector<Address>& addresses, bool verbose) {
  try {
    RecheckNeighbours(EntriesToRecheck(ReadNeighbourTable(), addresses));
  } catch (const SystemError& error) {
    if (verbose) {
      std::cerr << "hostsweep: " << error.what()
                << "; a host on the link that ignores echo and was known before the sweep may "
                   "read dead\n";
    }
  }
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

int RunSweep(const Options& options, const std::vector<Address>& addresses, OutputChannel& output,
             OutputChannel& errors) {
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
  if (!options.namesOnly) {
    RecheckKnownNeighbours(addresses, options.verbose);
  }
  const SweepSettings settings = SettingsFor(options, addresses.size());
  const auto network = options.extraNames ? MakeUdpNetwork() : nullptr;
  std::optional<NameQueries> names;
  std::optional<NameStage> nameStage;
  if (network) {
    // Their sockets come out of the chains' descriptor budget.
    nameStage.emplace(names.emplace(*network, std::min(settings.jobs, settings.mostChains)));
  }
  LinkLayerEnrichment linkLayer(ReadNeighbourTable, std::cerr, options.verbose,
                                nameStage ? &*nameStage : nullptr);
  // A name-only sweep sends nothing on the link and has its names already.
  Sweep sweep(addresses, settings, *host, std::cerr, options.namesOnly ? nullptr : &linkLayer);
  std::ostream results(&output);
  const auto writer = MakeWriter(options.format, results);
  ResultStream stream(*writer, options.foundOnly,
                      [&vendors](const MacAddress& mac) { return vendors.VendorOf(mac); });
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
    return output.Outcome() == WriteOutcome::kWritten;
  });
  if (progress) {
    progress->Clear();
  }
  stream.Finish(sweep.Book());
  if (options.verbose) {
    ReportCounts(sweep.Counts());
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
  try {
    return RunSweep(*parsed.options, addresses, output, errors);
  } catch (const SystemError& error) {
    std::cerr << "hostsweep: " << error.what() << "\n";
    return kExitSystem;
  }
}
