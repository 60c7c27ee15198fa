// The worker processes of each batch. Every batch's first worker is started in
// a job object of its own; the successors it starts are in the same job, so the
// job is the batch's chain. The jobs tell one completion port when their last
// process has ended, and a job closed by an ending controller takes its
// processes with it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/win/unique_handle.h"
#include "controller/system/worker_host.h"

namespace hostsweep::controller {

class WorkerChains {
 public:
  // `workerPath` is a full path. Throws SystemError without a completion port.
  explicit WorkerChains(std::string workerPath);
  // Ends every chain still running and waits a while for them to end.
  ~WorkerChains();
  WorkerChains(const WorkerChains&) = delete;
  WorkerChains& operator=(const WorkerChains&) = delete;

  // Starts a hidden worker with `requestLine` as its argument text. Throws
  // SystemError when the worker cannot be started in a job.
  void Start(BatchId batch, const std::string& requestLine);
  void Stop(BatchId batch);
  // Reports every chain whose last process has ended since the last call;
  // false when there was none. A stopped chain's job is also asked directly,
  // as the system does not promise to deliver every notice.
  bool CollectEnded(const std::function<void(BatchId)>& ended);

 private:
  struct Chain {
    BatchId batch;
    UniqueHandle job;
    bool stopped;
  };

  UniqueHandle NewJob(BatchId batch) const;
  // The next chain-end notice, waiting at most `milliseconds` for one.
  bool NextEnded(DWORD milliseconds, BatchId& batch);

  std::string workerPath_;
  UniqueHandle port_;
  std::vector<Chain> chains_;
};

}  // namespace hostsweep::controller
