// Workers on Linux: reports through the report socket, workers as process
// groups, and the signals (child ended, Ctrl-C, SIGTERM), all events of the
// controller's loop.
#pragma once

#include <csignal>
#include <optional>
#include <string>

#include "controller/system/event_loop.h"
#include "controller/system/posix/loop_signals.h"
#include "controller/system/posix/report_receiver.h"
#include "controller/system/posix/worker_chains.h"
#include "controller/system/posix/worker_file.h"
#include "controller/system/worker_host.h"

namespace hostsweep::controller {

// The signals that interrupt a sweep: SIGINT, SIGTERM and SIGHUP, less those
// the controller was started with ignored (nohup, a background job of a
// shell without job control), which stay ignored.
sigset_t InterruptSignals();
// True once the worker host has read an interruption.
bool InterruptionRead();

class PlatformWorkerHost : public WorkerHost {
 public:
  // Throws SystemError when the receiver, the signals or the subreaper
  // cannot be set up.
  PlatformWorkerHost(EventLoop& loop, WorkerFile worker);
  ~PlatformWorkerHost() override;
  PlatformWorkerHost(const PlatformWorkerHost&) = delete;
  PlatformWorkerHost& operator=(const PlatformWorkerHost&) = delete;

  [[nodiscard]] std::int32_t ReplyHandle() const override { return receiver_.Handle(); }
  void Start(BatchId batch, const std::string& requestLine) override;
  void Stop(BatchId batch) override;
  void Serve(SweepEvents& events) override;
  // Also true while an interruption waits to be read: the sweep asks between
  // worker starts, before any turn of the loop.
  [[nodiscard]] bool Interrupted() const override;

 private:
  void OnSignal(int signal);

  EventLoop& loop_;
  ReportReceiver receiver_;
  WorkerChains chains_;
  LoopSignals signals_;
  // The ended processes are reaped once the turn's reports are read: a
  // worker's report goes before its end.
  std::optional<EventLoop::TimerId> reaping_;
};

}  // namespace hostsweep::controller
