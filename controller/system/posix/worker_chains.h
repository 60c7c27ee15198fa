// The worker processes of each batch. Every batch's first worker leads a
// process group of its own, which the successors it starts inherit, so the
// group is the batch's chain: the chain has ended when the group is empty.
// The controller is a child subreaper, so successors whose starter has ended
// become its children and are reaped here too. A guardian process ends the
// chains should the controller be killed outright.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/posix/file_descriptor.h"
#include "controller/system/event_loop.h"
#include "controller/system/posix/chain_guardian.h"
#include "controller/system/posix/worker_file.h"
#include "controller/system/worker_host.h"

namespace hostsweep::controller {

class WorkerChains {
 public:
  using MessageHandler = std::function<void(BatchId, const std::string& line)>;
  using EndHandler = std::function<void(BatchId)>;

  // Every chain runs `worker`. Throws SystemError when the controller cannot
  // become a subreaper.
  WorkerChains(EventLoop& loop, WorkerFile worker);
  // Ends every chain still running and reaps it.
  ~WorkerChains();
  WorkerChains(const WorkerChains&) = delete;
  WorkerChains& operator=(const WorkerChains&) = delete;

  // Throws SystemError when the worker cannot be started.
  void Start(BatchId batch, const std::string& requestLine);
  void Stop(BatchId batch);
  // The batch whose chain the running process `pid` belongs to.
  [[nodiscard]] std::optional<BatchId> BatchOf(pid_t pid) const;

  // Where the chains' standard error goes, a line at a time, as the loop
  // turns (a bounded slice of a chain's per turn), and where each chain's end
  // is told.
  void Report(MessageHandler message, EndHandler ended);
  // Reaps the ended processes and tells of every chain with none left.
  void ReapEnded();

 private:
  struct Chain {
    BatchId batch;
    pid_t group;
    FileDescriptor errors;
    std::string partialLine;
  };

  // Reads at most `most` bytes of the chain's standard error.
  void ReadErrors(Chain& chain, std::size_t most);
  void KillAndReapAll();

  EventLoop& loop_;
  MessageHandler message_;
  EndHandler ended_;
  WorkerFile worker_;
  ChainGuardian guardian_;
  std::vector<Chain> chains_;
};

}  // namespace hostsweep::controller
