#include "controller/system/win/worker_chains.h"

#include <algorithm>
#include <chrono>

#include "common/command_text.h"
#include "common/win/system_message.h"
#include "controller/base/errors.h"

namespace hostsweep::controller {
namespace {

constexpr std::chrono::milliseconds kMostEndWait{5000};

std::string LastError() { return SystemMessage(::GetLastError()); }

// A start refused for want of memory or system resources may succeed later,
// with fewer chains running; any other refusal (a file that is no program)
// never will.
[[noreturn]] void RefuseStart(const std::string& what) {
  const DWORD error = ::GetLastError();
  const std::string text = what + ": " + SystemMessage(error);
  if (error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY ||
      error == ERROR_NO_SYSTEM_RESOURCES || error == ERROR_COMMITMENT_LIMIT) {
    throw WorkerShortage(text);
  }
  throw SystemError(text);
}

// The processes in the job now; a job that cannot be asked counts as busy.
DWORD ActiveProcesses(HANDLE job) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
  if (::QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                  sizeof accounting, nullptr) == FALSE) {
    return 1;
  }
  return accounting.ActiveProcesses;
}

}  // namespace

WorkerChains::WorkerChains(std::string workerPath)
    : workerPath_(std::move(workerPath)),
      port_(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1)) {
  if (!port_) {
    throw SystemError("cannot create the workers' completion port: " + LastError());
  }
}

WorkerChains::~WorkerChains() {
  for (const auto& chain : chains_) {
    ::TerminateJobObject(chain.job.get(), 1);
  }
  const auto giveUp = std::chrono::steady_clock::now() + kMostEndWait;
  BatchId batch = 0;
  while (!chains_.empty()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        giveUp - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !NextEnded(static_cast<DWORD>(left.count()), batch)) {
      return;
    }
    std::erase_if(chains_, [batch](const Chain& chain) { return chain.batch == batch; });
  }
}

UniqueHandle WorkerChains::NewJob(BatchId batch) const {
  UniqueHandle job(::CreateJobObjectA(nullptr, nullptr));
  if (!job) {
    throw SystemError("cannot create a job for a worker: " + LastError());
  }
  // Should the controller end without ending its workers, closing the job's
  // last handle ends them.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT notices{};
  notices.CompletionKey = reinterpret_cast<PVOID>(batch);  // NOLINT(performance-no-int-to-ptr)
  notices.CompletionPort = port_.get();
  if (::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                sizeof limits) == FALSE ||
      ::SetInformationJobObject(job.get(), JobObjectAssociateCompletionPortInformation, &notices,
                                sizeof notices) == FALSE) {
    throw SystemError("cannot set up a job for a worker: " + LastError());
  }
  return job;
}

void WorkerChains::Start(BatchId batch, const std::string& requestLine) {
  UniqueHandle job = NewJob(batch);
  const ProgramPath program = SplitProgramPath(workerPath_);
  // The program is named by its path; the command text carries the quoted
  // path only so that the worker finds its argument text after it.
  std::string command = ProgramCommandText(program.folder, program.name, requestLine);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  // Suspended until it is in the job, so that no successor starts outside it.
  if (::CreateProcessA(workerPath_.c_str(), command.data(), nullptr, nullptr, FALSE,
                       CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                       &process) == FALSE) {
    RefuseStart("cannot start the worker " + workerPath_);
  }
  const UniqueHandle thread(process.hThread);
  const UniqueHandle worker(process.hProcess);
  if (::AssignProcessToJobObject(job.get(), worker.get()) == FALSE) {
    const std::string error = LastError();
    ::TerminateProcess(worker.get(), 1);
    throw SystemError("cannot put the worker in a job: " + error);
  }
  ::ResumeThread(thread.get());
  chains_.push_back({batch, std::move(job), false});
}

void WorkerChains::Stop(BatchId batch) {
  for (auto& chain : chains_) {
    if (chain.batch == batch) {
      ::TerminateJobObject(chain.job.get(), 1);
      chain.stopped = true;
    }
  }
}

bool WorkerChains::NextEnded(DWORD milliseconds, BatchId& batch) {
  for (;;) {
    DWORD notice = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* detail = nullptr;
    if (::GetQueuedCompletionStatus(port_.get(), &notice, &key, &detail, milliseconds) == FALSE) {
      return false;
    }
    // The port also hears of every process that starts or ends in a job.
    if (notice == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
      batch = key;
      return true;
    }
  }
}

bool WorkerChains::CollectEnded(const std::function<void(BatchId)>& ended) {
  bool any = false;
  BatchId batch = 0;
  while (NextEnded(0, batch)) {
    const auto chain = std::find_if(chains_.begin(), chains_.end(),
                                    [batch](const Chain& c) { return c.batch == batch; });
    if (chain != chains_.end()) {
      chains_.erase(chain);
      ended(batch);
      any = true;
    }
  }
  std::erase_if(chains_, [&](const Chain& chain) {
    if (!chain.stopped || ActiveProcesses(chain.job.get()) != 0) {
      return false;
    }
    ended(chain.batch);
    any = true;
    return true;
  });
  return any;
}

}  // namespace hostsweep::controller
