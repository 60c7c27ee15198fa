#include "controller/app/sinks.h"

#include <cstdio>

#include "controller/system/console.h"

namespace hostsweep::controller {
namespace {

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

}  // namespace

Sinks::Sinks(const Options& options, const SweepRun& run)
    : options_(options), run_(run), files_(OpenResultFiles(options, run)) {}

void Sinks::Connect(std::ostream& results, RowTaker taker, const VendorOf& vendorOf) {
  std::vector<ResultWriter*> writers{taker.watch};
  if (taker.watch == nullptr) {
    const auto tableWidth = TableWidth(options_);
    standardOutput_ = StandardOutputWriter(options_, results, run_, tableWidth);
    // On a terminal the table is for reading: a /24's dead rows would push the
    // hosts found off the screen. Piped, it keeps every address for scripts.
    const bool terminalTable = tableWidth && options_.xmlFile != "-" && options_.htmlFile != "-";
    writers = {Shown(*standardOutput_, terminalTable && !options_.allAddresses)};
  }
  for (const auto& file : files_) {
    writers.push_back(Shown(*file->writer, false));
  }
  if (taker.earlier != nullptr) {
    writers = {&changes_.emplace(*taker.earlier, writers, options_.changesOnly, options_.ipv6,
                                 vendorOf, taker.inventory)};
  }
  // First of all: a comparison weighs a change by what the inventory says.
  if (taker.inventory != nullptr) {
    writers = {&knownFacts_.emplace(*taker.inventory, writers)};
  }
  if (taker.recorder != nullptr) {
    writers.push_back(taker.recorder);
  }
  stream_.emplace(writers, vendorOf);
}

ResultWriter* Sinks::Shown(ResultWriter& writer, bool foundOnly) {
  ResultWriter* shown = &writer;
  if (foundOnly || options_.foundOnly) {
    shown = &foundOnly_.emplace_back(*shown);
  }
  if (options_.unknownOnly) {
    shown = &unknownOnly_.emplace_back(*shown);
  }
  return shown;
}

const ResultFile* Sinks::Close() {
  for (auto& file : files_) {
    file->Close();
  }
  return FailedFile(files_);
}

}  // namespace hostsweep::controller
