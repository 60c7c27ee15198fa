#include "controller/sweep/sweep.h"

#include <algorithm>
#include <string>
#include <utility>

#include "controller/base/errors.h"
#include "controller/base/printable.h"

namespace hostsweep::controller {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// How often the caller hears from the sweep while nothing happens (progress).
constexpr milliseconds kTick{200};
// How often more chains start while the sweep ramps up.
constexpr milliseconds kRampStep{50};
// How long a stopped chain gets to end. Its end notice may never come: a
// process in uninterruptible sleep outlives SIGKILL, and Windows does not
// promise to deliver a job's notices. After this it counts as ended.
constexpr milliseconds kStopGrace{3000};

// Reports and worker messages are short; more than this of one is not shown.
constexpr std::size_t kMostQuoted = 300;

// Back-off between starts the system refused for lack of resources, and how
// many such refusals in a row, with no chain running, end the sweep.
constexpr milliseconds kFirstBackoff{50};
constexpr milliseconds kMostBackoff{2000};
constexpr int kMostIdleShortages = 10;

// How long workers are started at a stretch before the link pass's answers
// are read.
constexpr milliseconds kStartSlice{5};
// How often the neighbour table is read again while it may be near full.
constexpr milliseconds kEntriesReread{100};
// How long starts wait for the table at most: longer than Linux keeps an
// entry out of reach (reachable for up to 45 s at the default settings, then
// 5 s stale).
constexpr seconds kLongestHold{60};
// How long after its start a worker has surely sent its first request, and
// made its neighbour entry if the table had room.
constexpr milliseconds kFirstRequestLag{1000};
// The sweep paces itself only while its own entries are at least this part
// (one in so many) of a table that ran full: others hold the rest.
constexpr std::size_t kOwnShareWorthPacing = 8;

constexpr seconds kStartMargin{5};
constexpr seconds kEchoTimeouts{2};
constexpr seconds kNameLookup{30};
constexpr seconds kAdapterQuery{10};

}  // namespace

milliseconds BatchDeadline(std::size_t slots, bool namesOnly) {
  if (namesOnly) {
    return kStartMargin + kNameLookup;
  }
  return kStartMargin + static_cast<int>(slots) * (kEchoTimeouts + kNameLookup + kAdapterQuery);
}

std::size_t ProbesInFlightCap(std::size_t neighbourTable) {
  // Seven eighths for the sweep, two entries per chain.
  return neighbourTable * 7 / 16;
}

std::size_t EntryBudget(std::size_t neighbourTable) { return neighbourTable - neighbourTable / 64; }

Sweep::Sweep(const std::vector<Address>& addresses, const SweepSettings& settings, EventLoop& loop,
             WorkerHost& host, std::ostream& diagnostics, Stages* stages, ArpPass* linkPass)
    : addresses_(addresses),
      settings_(settings),
      loop_(loop),
      host_(host),
      diagnostics_(diagnostics),
      stages_(stages),
      linkPass_(linkPass),
      batches_(
          SplitIntoBatches(addresses.size(), settings.namesOnly ? 1 : settings.batchSize,
                           [linkPass](std::size_t p) { return linkPass && linkPass->Covers(p); })),
      // Each address the link pass covers may come to need a worker of its own.
      steadyLimit_(
          std::min(settings.jobs, batches_.size() + (linkPass ? linkPass->CoveredCount() : 0))),
      ramps_(false),
      rerun_(batches_.size(), false),
      failed_(batches_.size(), false),
      backoff_(kFirstBackoff),
      entryBudget_(EntryBudget(settings.neighbourTable)),
      book_(addresses) {
  if (!settings.echoes) {
    // Without echo requests a worker learns nothing of an address the link
    // pass does not cover.
    for (const Batch& batch : batches_) {
      book_.MarkUnreported(batch.first, batch.count);
    }
    nextBatch_ = batches_.size();
  }
  LowerChainLimit(settings.mostChains, "more would run out of file descriptors (ulimit -n)");
  // A name-only sweep sends nothing on the link.
  const std::size_t cap = settings.namesOnly ? 0 : ProbesInFlightCap(settings.neighbourTable);
  if (cap == 0) {
    return;
  }
  LowerChainLimit(
      cap, "the neighbour table holds " + std::to_string(settings.neighbourTable) + " addresses");
  // Chains that all start at once all move on to their next address at once,
  // two seconds later, while the entries of their first are still resolving:
  // up to half the cap can start at once, more only spread over time. A sweep
  // whose every address has a chain of its own from the start has no next
  // address, and starts at once.
  const bool movesOn = settings.batchSize > 1 || batches_.size() > steadyLimit_;
  ramps_ = steadyLimit_ > cap / 2 && movesOn;
}

bool Sweep::Run(const std::function<bool(const ResultBook&)>& changed) {
  host_.Serve(*this);
  started_ = loop_.Now();
  entriesReadAt_ = started_;
  StartBatches();
  while (BatchesLeft() || StagesBusy() || LinkPassBusy()) {
    if (host_.Interrupted()) {
      // Nothing more is asked of the system once the user has asked to stop:
      // results that arrive while the workers end are shown as reported.
      StopAll();
      return false;
    }
    WaitForEvents();
    if (!changed(book_)) {
      StopAll();
      return false;
    }
    StopOverdue();
    GiveUpOnStopped();
    StartBatches();
  }
  EnrichFinished();
  return true;
}

void Sweep::EnrichFinished() {
  const auto finished = book_.TakeFinished();
  if (finished.empty()) {
    return;
  }
  if (stages_ != nullptr) {
    stages_->Pass(book_, finished);
  }
}

std::size_t Sweep::StartLimit() const {
  const auto elapsed = loop_.Now() - started_;
  if (!ramps_ || elapsed >= settings_.rampTime) {
    return steadyLimit_;
  }
  const auto share = std::chrono::duration<double>(elapsed) / settings_.rampTime;
  return std::max<std::size_t>(1,
                               static_cast<std::size_t>(share * static_cast<double>(steadyLimit_)));
}

milliseconds Sweep::NextWait() const {
  const milliseconds wait = std::min(kTick, TimeToNextDeadline());
  return StartLimit() < steadyLimit_ ? std::min(wait, kRampStep) : wait;
}

bool Sweep::BatchesLeft() const { return !running_.empty() || nextBatch_ < batches_.size(); }

bool Sweep::StagesBusy() const { return stages_ != nullptr && stages_->Busy(); }

bool Sweep::LinkPassBusy() const { return linkPass_ != nullptr && linkPass_->Busy(); }

void Sweep::TakeLinkVerdicts() {
  if (linkPass_ == nullptr) {
    return;
  }
  const LinkVerdicts verdicts = linkPass_->TakeVerdicts();
  for (const std::size_t position : verdicts.answered) {
    if (!settings_.echoes) {
      book_.FileNoEcho(position);
      continue;
    }
    batches_.push_back({position, 1});
    rerun_.push_back(false);
    failed_.push_back(false);
  }
  for (const std::size_t position : verdicts.answeredLinkOnly) {
    book_.FileNoEcho(position);
  }
  for (const std::size_t position : verdicts.unanswered) {
    book_.FileNoLinkReply(position);
  }
  if (stages_ != nullptr && !verdicts.answered.empty()) {
    stages_->Heard(book_, verdicts.answered);
  }
}

// One turn of the loop, which hears the workers, the link pass and the
// stages' askers; the stages then file what came.
void Sweep::WaitForEvents() {
  loop_.RunOnce(NextWait());
  TakeLinkVerdicts();
  EnrichFinished();
  if (StagesBusy()) {
    stages_->Poll(book_, milliseconds{0});
  }
}

void Sweep::StartBatches() {
  if (loop_.Now() < retryAt_) {
    return;
  }
  const std::size_t limit = StartLimit();
  // Starting a thousand workers takes seconds; an interruption is not kept
  // waiting for them, and neither are the link pass's answers, which at a
  // high rate overflow the socket's buffer within tens of milliseconds: the
  // loop turns, without waiting, every slice.
  auto turned = loop_.Now();
  while (running_.size() < limit && nextBatch_ < batches_.size() && !host_.Interrupted() &&
         EntriesFit()) {
    if (LinkPassBusy() && loop_.Now() - turned >= kStartSlice) {
      loop_.RunOnce(milliseconds{0});
      TakeLinkVerdicts();
      turned = loop_.Now();
    }
    const BatchId id = nextBatch_;
    const Batch batch = batches_[id];
    const std::string line =
        settings_.namesOnly
            ? NameRequestLine(host_.ReplyHandle(), addresses_[batch.first])
            : ProbeRequestLine(host_.ReplyHandle(), addresses_, batch, settings_.pause);
    // Any other refusal (a worker that cannot run at all) ends the sweep.
    try {
      host_.Start(id, line);
    } catch (const WorkerShortage& shortage) {
      OnShortage(shortage);
      return;
    }
    ++nextBatch_;
    starts_.push_back(loop_.Now());
    idleShortages_ = 0;
    backoff_ = kFirstBackoff;
    running_.push_back(
        {id, loop_.Now() + BatchDeadline(batch.count, settings_.namesOnly), false, loop_.Now()});
  }
}

// Every request to an on-link host needs an entry in the neighbour table, and
// a host that answered keeps its entry out of the system's reach for as long
// as it counts as reachable (Linux: 15 to 45 s). A crowded network answers
// faster than the table frees, and a request that finds it full never
// leaves: its live host would read as silent or dead. The table is read
// only once the starts since the last reading could bring it near full.
bool Sweep::EntriesFit() {
  if (!settings_.tableLoad || entryBudget_ == 0 || settings_.namesOnly) {
    return true;
  }
  const auto now = loop_.Now();
  const bool wasWaiting = waitingForEntries_;
  // Read while the table may be near full: others' entries count too.
  if (EntriesHeld() >= entryBudget_ - entryBudget_ / 4 && now - entriesReadAt_ >= kEntriesReread) {
    ReadTable();
    if (entryBudget_ == 0) {
      return true;
    }
  }
  waitingForEntries_ = EntriesHeld() >= entryBudget_;
  if (waitingForEntries_ && !wasWaiting) {
    waitingSince_ = now;
  }
  // Entries others keep busy may never free: the sweep goes on once every
  // entry of its own would have.
  if (!waitingForEntries_ || now - waitingSince_ >= kLongestHold) {
    return true;
  }
  if (!saidPacing_) {
    diagnostics_ << "hostsweep: pacing the workers: the neighbour table holds "
                 << settings_.neighbourTable << " addresses, and " << EntriesHeld()
                 << " are taken by hosts that answered or are being resolved\n";
  }
  saidPacing_ = true;
  return false;
}

void Sweep::ReadTable() {
  const auto now = loop_.Now();
  const NeighbourTableLoad load = settings_.tableLoad();
  const bool overflowed = load.overflows && overflowsRead_ && *load.overflows > *overflowsRead_;
  overflowsRead_ = load.overflows;
  entriesRead_ = load.held;
  entriesReadAt_ = now;
  entriesUnsent_ = 0;
  bool starved = false;
  for (const auto& running : running_) {
    const std::size_t first = batches_[running.batch].first;
    if (running.started == now || book_.Results()[first].probe.state != State::kPending ||
        std::binary_search(load.addresses.begin(), load.addresses.end(), addresses_[first])) {
      continue;
    }
    ++entriesUnsent_;
    // Only an on-link address is sure to need an entry of its own.
    starved = starved || (linkPass_ != nullptr && linkPass_->Covers(first) &&
                          now - running.started >= kFirstRequestLag);
  }
  if (starved && load.held < entryBudget_) {
    // Where others hold nearly all of it (the kernel's count of refused
    // entries rose: it is full, not a worker slow to ask), the sweep's own few
    // entries free too little to wait for: a budget of a handful would start
    // a worker a second. It goes on unpaced; an echo request that finds no
    // room leaves its address unchecked.
    const bool othersHoldIt =
        load.held < settings_.neighbourTable / kOwnShareWorthPacing && overflowed;
    entryBudget_ = othersHoldIt ? 0 : std::max<std::size_t>(load.held, 1);
    if (settings_.verbose) {
      diagnostics_ << "hostsweep: the neighbour table ran full at " << load.held
                   << " entries of this sweep's: others hold the rest"
                   << (othersHoldIt ? "; the workers are paced no more\n" : "\n");
    }
  }
}

std::size_t Sweep::EntriesHeld() {
  while (!starts_.empty() && starts_.front() < entriesReadAt_) {
    starts_.pop_front();
  }
  return entriesRead_ + entriesUnsent_ + starts_.size();
}

void Sweep::OnShortage(const WorkerShortage& shortage) {
  if (running_.empty() && ++idleShortages_ > kMostIdleShortages) {
    throw SystemError(std::string("cannot start any worker: ") + shortage.what());
  }
  LowerChainLimit(running_.size(), shortage.what());
  retryAt_ = loop_.Now() + backoff_;
  backoff_ = std::min(backoff_ * 2, kMostBackoff);
}

void Sweep::LowerChainLimit(std::size_t most, const std::string& why) {
  most = std::max<std::size_t>(most, 1);
  if (most >= steadyLimit_) {
    return;
  }
  if (settings_.verbose) {
    diagnostics_ << "hostsweep: at most " << most << " worker chains at once, not " << steadyLimit_
                 << ": " << why << "\n";
  }
  steadyLimit_ = most;
}

void Sweep::StopOverdue() {
  const auto now = loop_.Now();
  for (auto& running : running_) {
    if (!running.stopping && running.deadline <= now) {
      ++counts_.overdueBatches;
      diagnostics_ << "hostsweep: warning: ending the workers for " << Describe(running.batch)
                   << ": overdue\n";
      Stop(running);
    }
  }
}

void Sweep::Stop(Running& running) {
  running.stopping = true;
  running.deadline = loop_.Now() + kStopGrace;
  host_.Stop(running.batch);
}

void Sweep::GiveUpOnStopped() {
  const auto now = loop_.Now();
  std::vector<BatchId> lost;
  for (const auto& running : running_) {
    if (running.stopping && running.deadline <= now) {
      lost.push_back(running.batch);
    }
  }
  for (const BatchId batch : lost) {
    diagnostics_ << "hostsweep: warning: the workers for " << Describe(batch)
                 << " did not end when told to; counted as ended\n";
    OnChainEnded(batch);
  }
}

void Sweep::StopAll() {
  for (auto& running : running_) {
    Stop(running);
  }
  while (!running_.empty()) {
    loop_.RunOnce(std::min(kTick, TimeToNextDeadline()));
    GiveUpOnStopped();
  }
}

milliseconds Sweep::TimeToNextDeadline() const {
  auto next = Clock::time_point::max();
  for (const auto& running : running_) {
    next = std::min(next, running.deadline);
  }
  if (nextBatch_ < batches_.size() && retryAt_ > loop_.Now()) {
    next = std::min(next, retryAt_);
  }
  if (nextBatch_ < batches_.size() && waitingForEntries_) {
    next = std::min(next, entriesReadAt_ + kEntriesReread);
  }
  if (next == Clock::time_point::max()) {
    return kTick;
  }
  return std::max(milliseconds{0},
                  std::chrono::duration_cast<milliseconds>(next - loop_.Now()) + milliseconds{1});
}

void Sweep::OnReport(std::optional<BatchId> origin, const std::string& text) {
  // A report from a process of none of this sweep's chains is stray, however
  // well it names a label: the socket's name is no secret, and the same user
  // is not enough (a set-user-ID program, a worker run by hand).
  Filing filing = Filing::kUnknown;
  if (origin && *origin < batches_.size()) {
    filing = settings_.namesOnly ? book_.FileName(batches_[*origin].first, text)
                                 : book_.FileProbeReport(text);
  }
  if (filing == Filing::kFiled) {
    return;
  }
  ++(filing == Filing::kDuplicate ? counts_.duplicateReports : counts_.unknownReports);
  if (settings_.verbose) {
    diagnostics_ << "hostsweep: ignored a "
                 << (filing == Filing::kDuplicate ? "duplicate" : "stray") << " report \""
                 << Excerpt(text, kMostQuoted) << "\"\n";
  }
}

void Sweep::OnChainEnded(BatchId batch) {
  const auto running = std::find_if(running_.begin(), running_.end(),
                                    [batch](const Running& r) { return r.batch == batch; });
  if (running == running_.end()) {
    return;
  }
  const bool stopped = running->stopping;
  running_.erase(running);
  // An interrupted sweep shows only what it learnt; the rest is not "no report".
  if (stopped && host_.Interrupted()) {
    return;
  }
  if (!stopped && failed_[batch] && !rerun_[batch] && QueueRerun(batch)) {
    return;
  }
  const std::size_t before = book_.Done();
  book_.MarkUnreported(batches_[batch].first, batches_[batch].count);
  if (settings_.verbose && book_.Done() != before) {
    diagnostics_ << "hostsweep: the workers for " << Describe(batch)
                 << " ended without reporting every address\n";
  }
}

bool Sweep::QueueRerun(BatchId batch) {
  const Batch failed = batches_[batch];
  const std::size_t queued = batches_.size();
  const auto pending = [this](std::size_t position) {
    return book_.Results()[position].probe.state == State::kPending;
  };
  for (std::size_t position = failed.first; position < failed.first + failed.count;) {
    if (!pending(position)) {
      ++position;
      continue;
    }
    Batch rerun{position, 0};
    while (position < failed.first + failed.count && pending(position)) {
      ++rerun.count;
      ++position;
    }
    batches_.push_back(rerun);
    rerun_.push_back(true);
    failed_.push_back(false);
  }
  if (settings_.verbose && batches_.size() != queued) {
    diagnostics_ << "hostsweep: a worker for " << Describe(batch)
                 << " failed; its unreported addresses run once more\n";
  }
  return batches_.size() != queued;
}

void Sweep::OnWorkerMessage(BatchId batch, const std::string& line) {
  failed_[batch] = true;
  diagnostics_ << "hostsweep: warning: worker for " << Describe(batch) << ": " << Printable(line)
               << "\n";
}

std::string Sweep::Describe(BatchId batch) const {
  const Batch& b = batches_[batch];
  std::string text;
  for (std::size_t position = b.first; position < b.first + b.count; ++position) {
    if (!text.empty()) {
      text += ' ';
    }
    text += FormatAddress(addresses_[position]);
  }
  return text;
}

}  // namespace hostsweep::controller
