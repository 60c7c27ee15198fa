#include "controller/system/win/platform_worker_host.h"

#include <algorithm>
#include <atomic>

#include "common/win/system_message.h"
#include "controller/base/errors.h"

namespace hostsweep::controller {
namespace {

// The job objects tell of ended chains through a completion port, which a
// window message wait cannot watch; it is looked at this often.
constexpr std::chrono::milliseconds kChainPoll{10};

// The console handler runs on a thread of its own.
std::atomic<bool> interrupted{false};
HANDLE interruption = nullptr;

BOOL WINAPI OnConsoleControl(DWORD /*event*/) {
  interrupted = true;
  ::SetEvent(interruption);
  return TRUE;
}

}  // namespace

PlatformWorkerHost::PlatformWorkerHost(std::string workerPath) : chains_(std::move(workerPath)) {
  interruption = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (interruption == nullptr || ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) == FALSE) {
    throw SystemError("cannot receive Ctrl-C: " + SystemMessage(::GetLastError()));
  }
}

PlatformWorkerHost::~PlatformWorkerHost() {
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  ::CloseHandle(interruption);
  interruption = nullptr;
}

void PlatformWorkerHost::Start(BatchId batch, const std::string& requestLine) {
  receiver_.Prepare();
  chains_.Start(batch, requestLine);
  receiver_.Assign(batch);
}

void PlatformWorkerHost::Stop(BatchId batch) { chains_.Stop(batch); }

bool PlatformWorkerHost::Interrupted() const { return interrupted; }

void PlatformWorkerHost::Wait(std::chrono::milliseconds timeout, SweepEvents& events) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    // The reports first: a worker ends only once its reports are handled.
    bool happened = receiver_.Deliver(events);
    happened |= chains_.CollectEnded([&](BatchId batch) {
      receiver_.Release(batch);
      events.OnChainEnded(batch);
    });
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (happened || interrupted || left.count() <= 0) {
      return;
    }
    ::MsgWaitForMultipleObjectsEx(1, &interruption,
                                  static_cast<DWORD>(std::min(left, kChainPoll).count()),
                                  QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

}  // namespace hostsweep::controller
