// Where a sweep's finished rows go: standard output in the chosen format (or
// the watch, in its place), the result files (--xml, --html), and in front of
// them all the comparison with an earlier sweep (--compare), which adds each
// row's change before handing it on.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

#include "controller/app/options.h"
#include "controller/app/result_files.h"
#include "controller/base/link_conflict.h"
#include "controller/history/change_writer.h"
#include "controller/history/earlier_results.h"
#include "controller/inventory/known_writers.h"
#include "controller/output/result_stream.h"
#include "controller/output/sweep_run.h"

namespace hostsweep::controller {

// What takes a sweep's rows besides the result files.
struct RowTaker {
  const EarlierSweep* earlier = nullptr;  // --compare
  ResultWriter* watch = nullptr;          // --watch: in standard output's place
  const Inventory* inventory = nullptr;   // --known
  ResultWriter* recorder = nullptr;       // --state: every row, beside the others
  // --watch, --state: the link's conflicts, for the run to say (a watch once
  // each) and show in its metrics; without it, the sweep says its own.
  std::vector<LinkConflict>* conflicts = nullptr;
};

class Sinks {
 public:
  // Opens the result files before anything starts: a file that cannot be
  // created is refused, rather than a sweep whose rows would be lost at its end.
  Sinks(const Options& options, const SweepRun& run);
  // Readies the writers once the sweep can start: standard output's may
  // write at once (CSV's header).
  void Connect(std::ostream& results, RowTaker taker, const VendorOf& vendorOf);

  [[nodiscard]] ResultStream& Stream() { return *stream_; }
  // Ends every file; the first whose write failed (a full disk), or null.
  const ResultFile* Close();
  [[nodiscard]] bool AnyFileFailed() const { return FailedFile(files_) != nullptr; }
  [[nodiscard]] bool AnyChange() const { return changes_ && changes_->AnyChange(); }

 private:
  // `writer`, or before it the rows found alone when `foundOnly` or --alive
  // says so, and the unknown devices' alone with --unknown-only.
  ResultWriter* Shown(ResultWriter& writer, bool foundOnly);

  const Options& options_;
  const SweepRun& run_;
  std::vector<std::unique_ptr<ResultFile>> files_;
  std::unique_ptr<ResultWriter> standardOutput_;
  std::deque<FoundOnlyWriter> foundOnly_;
  std::deque<UnknownOnlyWriter> unknownOnly_;
  std::optional<ChangeWriter> changes_;
  std::optional<KnownFactsWriter> knownFacts_;
  std::optional<ResultStream> stream_;
};

}  // namespace hostsweep::controller
