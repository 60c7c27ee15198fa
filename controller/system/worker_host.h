// What the sweep needs from the system: a reply window (or its stand-in) that
// receives the workers' reports, and worker processes started per batch,
// both heard through the controller's event loop. One half per platform; the
// sweep itself is the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "controller/system/event_loop.h"

namespace hostsweep::controller {

using BatchId = std::size_t;

class SweepEvents {
 public:
  virtual ~SweepEvents() = default;
  // One report packet's text. `origin` is the batch whose worker chain sent
  // it; nothing when the sender belongs to no chain of this sweep, whose
  // reports are never filed. A name-only answer carries no label and is
  // matched by it.
  virtual void OnReport(std::optional<BatchId> origin, const std::string& text) = 0;
  // Every process of the batch's chain (the worker and the successors it
  // started) has ended; its reports have all been delivered.
  virtual void OnChainEnded(BatchId batch) = 0;
  // A line a worker of the batch wrote to its standard error.
  virtual void OnWorkerMessage(BatchId batch, const std::string& line) = 0;
};

class WorkerHost {
 public:
  virtual ~WorkerHost() = default;
  // The number that workers are given as their reply window.
  [[nodiscard]] virtual std::int32_t ReplyHandle() const = 0;
  // Starts a worker for `batch` with `requestLine` as its whole argument.
  // Throws SystemError when no process could be started.
  virtual void Start(BatchId batch, const std::string& requestLine) = 0;
  // Ends every process of the batch's chain; OnChainEnded follows.
  virtual void Stop(BatchId batch) = 0;
  // From now on hands the reports, ended chains and worker messages to
  // `events` as the host's loop turns; an interruption ends the turn too.
  virtual void Serve(SweepEvents& events) = 0;
  // True once the user asked the controller to stop (Ctrl-C, SIGTERM).
  [[nodiscard]] virtual bool Interrupted() const = 0;
};

// The worker host of one sweep, on `loop`, whose workers run the program at
// `workerPath`. Throws SystemError naming the problem when that program
// cannot be run; when, `sendsEchoes`, its workers would not be allowed to send
// echo requests, with the cause and the ways to fix it; or when the platform
// refuses what the sweep needs.
std::unique_ptr<WorkerHost> MakeWorkerHost(EventLoop& loop, const std::string& workerPath,
                                           bool sendsEchoes);
// Why the workers of the program at `workerPath` would not be allowed to send
// echo requests here, as MakeWorkerHost says it; empty when they would. Throws
// SystemError when that program cannot be run.
std::string WhyNoEchoes(const std::string& workerPath);
// The worker program beside the running controller.
std::string DefaultWorkerPath();

}  // namespace hostsweep::controller
