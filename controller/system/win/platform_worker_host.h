// The Windows half of the controller: reports arrive at message-only windows,
// workers run in one job object per batch, and Ctrl-C comes from the console.
//
// The Windows worker shows its failures in a message box and waits until
// someone dismisses it; its batch's deadline ends such a worker like any other
// overdue one.
#pragma once

#include <optional>
#include <string>

#include "controller/system/event_loop.h"
#include "controller/system/win/report_receiver.h"
#include "controller/system/win/worker_chains.h"
#include "controller/system/worker_host.h"

namespace hostsweep::controller {

class PlatformWorkerHost : public WorkerHost {
 public:
  // `workerPath` is a full path. Throws SystemError when the windows, the
  // completion port or the console handler cannot be set up. One per process:
  // the console handler is the process's.
  PlatformWorkerHost(EventLoop& loop, std::string workerPath);
  ~PlatformWorkerHost() override;
  PlatformWorkerHost(const PlatformWorkerHost&) = delete;
  PlatformWorkerHost& operator=(const PlatformWorkerHost&) = delete;

  [[nodiscard]] std::int32_t ReplyHandle() const override { return receiver_.NextHandle(); }
  void Start(BatchId batch, const std::string& requestLine) override;
  void Stop(BatchId batch) override;
  void Serve(SweepEvents& events) override;
  [[nodiscard]] bool Interrupted() const override;

 private:
  // Lets the reports in and collects the ended chains; then again, a moment later.
  void Look(SweepEvents& events);

  EventLoop& loop_;
  std::optional<EventLoop::TimerId> look_;
  // Destroyed after the chains, so that no window goes while a worker may still
  // send to it.
  ReportReceiver receiver_;
  WorkerChains chains_;
};

}  // namespace hostsweep::controller
