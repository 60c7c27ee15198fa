// The Windows half of the controller: reports arrive at message-only windows,
// workers run in one job object per batch, and Ctrl-C comes from the console.
//
// The Windows worker shows its failures in a message box and waits until
// someone dismisses it; its batch's deadline ends such a worker like any other
// overdue one.
#pragma once

#include <string>

#include "controller/win/job_chains.h"
#include "controller/win/reply_windows.h"
#include "controller/worker_host.h"

namespace hostsweep::controller {

class WinWorkerHost : public WorkerHost {
 public:
  // `workerPath` is a full path. Throws SystemError when the windows, the
  // completion port or the console handler cannot be set up. One per process:
  // the console handler is the process's.
  explicit WinWorkerHost(std::string workerPath);
  ~WinWorkerHost() override;
  WinWorkerHost(const WinWorkerHost&) = delete;
  WinWorkerHost& operator=(const WinWorkerHost&) = delete;

  [[nodiscard]] std::int32_t ReplyHandle() const override { return windows_.NextHandle(); }
  void Start(BatchId batch, const std::string& requestLine) override;
  void Stop(BatchId batch) override;
  void Wait(std::chrono::milliseconds timeout, SweepEvents& events) override;
  [[nodiscard]] bool Interrupted() const override;

 private:
  // Destroyed after the chains, so that no window goes while a worker may still
  // send to it.
  ReplyWindows windows_;
  JobChains chains_;
};

}  // namespace hostsweep::controller
