#include "controller/system/win/platform_worker_host.h"

#include <atomic>

#include "common/win/system_message.h"
#include "controller/base/errors.h"

namespace hostsweep::controller {
namespace {

// The reply windows' messages and the job objects' completion port are no
// sockets, which alone the loop's wait watches: they are looked at this often.
constexpr std::chrono::milliseconds kChainPoll{10};

// The console handler runs on a thread of its own; the loop sees it by the
// next look.
std::atomic<bool> interrupted{false};

BOOL WINAPI OnConsoleControl(DWORD /*event*/) {
  interrupted = true;
  return TRUE;
}

}  // namespace

PlatformWorkerHost::PlatformWorkerHost(EventLoop& loop, std::string workerPath)
    : loop_(loop), chains_(std::move(workerPath)) {
  if (::SetConsoleCtrlHandler(OnConsoleControl, TRUE) == FALSE) {
    throw SystemError("cannot receive Ctrl-C: " + SystemMessage(::GetLastError()));
  }
}

PlatformWorkerHost::~PlatformWorkerHost() {
  if (look_) {
    loop_.Cancel(*look_);
  }
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

void PlatformWorkerHost::Start(BatchId batch, const std::string& requestLine) {
  receiver_.Prepare();
  chains_.Start(batch, requestLine);
  receiver_.Assign(batch);
}

void PlatformWorkerHost::Stop(BatchId batch) { chains_.Stop(batch); }

bool PlatformWorkerHost::Interrupted() const { return interrupted; }

void PlatformWorkerHost::Serve(SweepEvents& events) { Look(events); }

void PlatformWorkerHost::Look(SweepEvents& events) {
  // The reports first: a worker ends only once its reports are handled.
  receiver_.Deliver(events);
  chains_.CollectEnded([&](BatchId batch) {
    receiver_.Release(batch);
    events.OnChainEnded(batch);
  });
  look_ = loop_.After(kChainPoll, [this, &events] { Look(events); });
}

}  // namespace hostsweep::controller
