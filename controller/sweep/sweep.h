// The sweep: keeps up to `jobs` worker chains running, files their reports,
// and turns the slots of a chain that ended without reporting them into
// "no report".
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "controller/base/errors.h"
#include "controller/base/results.h"
#include "controller/base/stage.h"
#include "controller/link/link_pass.h"
#include "controller/sweep/batches.h"
#include "controller/system/event_loop.h"
#include "controller/system/neighbour_table.h"
#include "controller/system/worker_host.h"

namespace hostsweep::controller {

struct SweepSettings {
  std::size_t jobs = 1;
  std::size_t batchSize = 1;
  std::string pause = "0";
  bool namesOnly = false;
  // False where the workers may not send echo requests: the link pass's
  // answerers are filed without a worker, and no other address is swept.
  bool echoes = true;
  bool verbose = false;
  // How many addresses the system's neighbour table can be resolving at once
  // (0: no such limit). Echo probes to silent addresses on the local link
  // each hold an entry, so the probes in flight are kept well below it.
  std::size_t neighbourTable = 0;
  // How long it takes to reach that cap: starts spread over this time make
  // the probes move on to their next address spread over time too.
  std::chrono::milliseconds rampTime{2000};
  // How many chains the system's limits let the controller carry at once
  // (descriptors); -j is lowered to it.
  std::size_t mostChains = SIZE_MAX;
  // What the neighbour table holds now (unset: not known). An on-link host
  // that answered holds its entry long after its worker is done, so a
  // crowded network fills the table.
  std::function<NeighbourTableLoad()> tableLoad{};
};

// The most probes in flight that `neighbourTable` entries carry without
// running full: an unanswered address keeps its entry for three seconds of
// resolving, a second past its two echo time-outs, so a chain holds up to two
// entries at once (its address and the one before); and some entries belong
// to others. 0 when there is no limit.
std::size_t ProbesInFlightCap(std::size_t neighbourTable);

// How many neighbour table entries a sweep lets be held at once before it
// starts no more workers: all but a 64th, left to other namespaces, whose
// entries a sweep cannot see. 0 when there is no limit.
std::size_t EntryBudget(std::size_t neighbourTable);

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
  // `stages`, the first of a chain, add to each result once its probes are
  // over; the sweep goes on while a stage waits for answers. The addresses
  // `linkPass` covers get a worker, one each, only once they have answered it;
  // those that never do are dead without one.
  Sweep(const std::vector<Address>& addresses, const SweepSettings& settings, EventLoop& loop,
        WorkerHost& host, std::ostream& diagnostics, Stages* stages = nullptr,
        ArpPass* linkPass = nullptr);

  // Runs until every batch is done, the user interrupts or `changed`, called
  // after each turn of the loop, returns false. Returns false when it did not finish.
  bool Run(const std::function<bool(const ResultBook&)>& changed);

  [[nodiscard]] const ResultBook& Book() const { return book_; }
  [[nodiscard]] const SweepCounts& Counts() const { return counts_; }

 private:
  using Clock = std::chrono::steady_clock;

  struct Running {
    BatchId batch;
    // When it is stopped; once stopping, when it counts as ended.
    Clock::time_point deadline;
    bool stopping;
    Clock::time_point started;
  };

  [[nodiscard]] bool BatchesLeft() const;
  [[nodiscard]] bool StagesBusy() const;
  [[nodiscard]] bool LinkPassBusy() const;
  // Whether another worker may start without the neighbour table running
  // full; said once when it may not.
  bool EntriesFit();
  // Reads the table; a worker that has had time to ask and has no entry met
  // a full table: the sweep holds no more entries than it holds now.
  void ReadTable();
  // The entries held by the last reading, the workers started before it
  // whose first address had none yet, and the workers started since.
  std::size_t EntriesHeld();
  // The link pass's answerers queued for a worker each, the others filed dead.
  void TakeLinkVerdicts();
  void WaitForEvents();
  void StartBatches();
  // How many chains may run now: -j, lowered by the system's limits and the
  // neighbour table's cap, and while the sweep ramps up, a share of that.
  std::size_t StartLimit() const;
  std::chrono::milliseconds NextWait() const;
  // The one place where the number of chains that may run at once goes down:
  // to `most` (at least 1), said with -v along with `why`.
  void LowerChainLimit(std::size_t most, const std::string& why);
  // A start refused for lack of resources: fewer chains from now on, and the
  // batch tried again after a back-off.
  void OnShortage(const WorkerShortage& shortage);
  void StopOverdue();
  void Stop(Running& running);
  // Stopped chains whose grace has passed count as ended.
  void GiveUpOnStopped();
  void StopAll();
  void EnrichFinished();
  std::chrono::milliseconds TimeToNextDeadline() const;
  void OnReport(std::optional<BatchId> origin, const std::string& text) override;
  void OnChainEnded(BatchId batch) override;
  void OnWorkerMessage(BatchId batch, const std::string& line) override;
  // Queues the addresses the failed chain of `batch` left unreported, in
  // batches of their own; false when there were none.
  bool QueueRerun(BatchId batch);
  std::string Describe(BatchId batch) const;

  const std::vector<Address>& addresses_;
  SweepSettings settings_;
  EventLoop& loop_;
  WorkerHost& host_;
  std::ostream& diagnostics_;
  Stages* stages_;
  ArpPass* linkPass_;
  std::vector<Batch> batches_;
  Clock::time_point started_;
  // Chains that may run at once once the sweep has ramped up (only ever
  // lowered, by LowerChainLimit); whether it ramps.
  std::size_t steadyLimit_;
  bool ramps_;
  // By batch: whether it re-runs the addresses a failed chain left unreported
  // (it is not re-run again); whether a worker of its chain reported a failure.
  std::vector<bool> rerun_;
  std::vector<bool> failed_;
  BatchId nextBatch_ = 0;
  Clock::time_point retryAt_{};
  std::chrono::milliseconds backoff_;
  int idleShortages_ = 0;  // refused starts in a row with no chain running
  std::vector<Running> running_;
  // The entries held when last read, when that was, and the starts since.
  std::size_t entryBudget_ = 0;
  std::size_t entriesRead_ = 0;
  std::size_t entriesUnsent_ = 0;
  std::optional<std::uint64_t> overflowsRead_;  // the kernel's count of refused entries, then
  Clock::time_point entriesReadAt_{};
  std::deque<Clock::time_point> starts_;
  bool waitingForEntries_ = false;
  Clock::time_point waitingSince_{};
  bool saidPacing_ = false;
  ResultBook book_;
  SweepCounts counts_;
};

}  // namespace hostsweep::controller
