// Workers on Linux: reports through the report socket, workers as process
// groups, and the signals (child ended, Ctrl-C, SIGTERM) read in the same wait.
#pragma once

#include <string>

#include "controller/posix/report_receiver.h"
#include "controller/posix/worker_chains.h"
#include "controller/worker_host.h"
#include "platform/posix/file_descriptor.h"

namespace hostsweep::controller {

class PlatformWorkerHost : public WorkerHost {
 public:
  // Throws SystemError when the receiver, the signals or the subreaper
  // cannot be set up.
  explicit PlatformWorkerHost(std::string workerPath);
  ~PlatformWorkerHost() override;
  PlatformWorkerHost(const PlatformWorkerHost&) = delete;
  PlatformWorkerHost& operator=(const PlatformWorkerHost&) = delete;

  [[nodiscard]] std::int32_t ReplyHandle() const override { return receiver_.Handle(); }
  void Start(BatchId batch, const std::string& requestLine) override;
  void Stop(BatchId batch) override;
  void Wait(std::chrono::milliseconds timeout, SweepEvents& events) override;
  [[nodiscard]] bool Interrupted() const override { return interrupted_; }

 private:
  void ReadSignals();

  FileDescriptor signals_;
  ReportReceiver receiver_;
  WorkerChains chains_;
  bool interrupted_ = false;
};

}  // namespace hostsweep::controller
