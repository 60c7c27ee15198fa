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
    standardOutput_ = StandardOutputWriter(options_, results, run_, TableWidth(options_));
    writers = {standardOutput_.get()};
  }
  for (const auto& file : files_) {
    writers.push_back(file->writer.get());
  }
  if (taker.earlier != nullptr) {
    writers = {
        &changes_.emplace(*taker.earlier, writers, options_.changesOnly, options_.ipv6, vendorOf)};
  }
  stream_.emplace(writers, options_.foundOnly, vendorOf);
}

const ResultFile* Sinks::Close() {
  for (auto& file : files_) {
    file->Close();
  }
  return FailedFile(files_);
}

}  // namespace hostsweep::controller
