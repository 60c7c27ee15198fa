// The sweep: keeps up to `jobs` worker chains running, files their reports,
// and turns the slots of a chain that ended without reporting them into
// "no report".
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "controller/batches.h"
#include "controller/enrichment.h"
#include "controller/results.h"
#include "controller/worker_host.h"

namespace hostsweep::controller {

struct SweepSettings {
  std::size_t jobs = 1;
  std::size_t batchSize = 1;
  std::string pause = "0";
  bool namesOnly = false;
  bool verbose = false;
};

// The longest a batch may take before it is ended: each slot two echo
// time-outs plus room for slow name and adapter lookups, and a start-up margin.
std::chrono::milliseconds BatchDeadline(std::size_t slots, bool namesOnly);

struct SweepCounts {
  std::size_t duplicateReports = 0;
  std::size_t unknownReports = 0;
  std::size_t overdueBatches = 0;
};

class Sweep : private SweepEvents {
 public:
  // `stages` add to each result once its probes are over, in their order.
  Sweep(const std::vector<Address>& addresses, const SweepSettings& settings, WorkerHost& host,
        std::ostream& diagnostics, std::vector<Enrichment*> stages = {});

  // Runs until every batch is done or the user interrupts; `changed` is called
  // after each wait. Returns false when interrupted.
  bool Run(const std::function<void(const ResultBook&)>& changed);

  [[nodiscard]] const ResultBook& Book() const { return book_; }
  [[nodiscard]] const SweepCounts& Counts() const { return counts_; }

 private:
  using Clock = std::chrono::steady_clock;

  struct Running {
    BatchId batch;
    Clock::time_point deadline;
    bool stopping;
  };

  void StartBatches();
  void StopOverdue();
  void StopAll();
  void EnrichFinished();
  std::chrono::milliseconds TimeToNextDeadline() const;
  void OnReport(std::optional<BatchId> origin, const std::string& text) override;
  void OnChainEnded(BatchId batch) override;
  void OnWorkerMessage(BatchId batch, const std::string& line) override;
  std::string Describe(BatchId batch) const;

  const std::vector<Address>& addresses_;
  SweepSettings settings_;
  WorkerHost& host_;
  std::ostream& diagnostics_;
  std::vector<Enrichment*> stages_;
  std::vector<Batch> batches_;
  BatchId nextBatch_ = 0;
  std::vector<Running> running_;
  ResultBook book_;
  SweepCounts counts_;
};

}  // namespace hostsweep::controller
