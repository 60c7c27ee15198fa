#include "controller/system/win/report_receiver.h"

#include <algorithm>
#include <span>
#include <string>

#include "common/report.h"
#include "common/win/system_message.h"
#include "controller/base/errors.h"

namespace hostsweep::controller {
namespace {

constexpr const char* kWindowClass = "hostsweep-reply";

void RegisterWindowClass(WNDPROC procedure) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kWindowClass;
  if (::RegisterClassA(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw SystemError("cannot register the reply window class: " + SystemMessage(::GetLastError()));
  }
}

}  // namespace

ReportReceiver::ReportReceiver() {
  RegisterWindowClass(Procedure);
  next_ = NewWindow();
  Prepare();
}

ReportReceiver::~ReportReceiver() {
  for (const auto& [window, batch] : batches_) {
    ::DestroyWindow(window);
  }
  ::DestroyWindow(prepared_);
  ::DestroyWindow(next_);
}

HWND ReportReceiver::NewWindow() const {
  HWND window = ::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  ::GetModuleHandleA(nullptr), nullptr);
  if (window == nullptr) {
    throw SystemError("cannot create a reply window: " + SystemMessage(::GetLastError()));
  }
  ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return window;
}

std::int32_t ReportReceiver::NextHandle() const {
  // A window handle carries 32 significant bits on 64-bit Windows too, and the
  // worker reads it back as a 32-bit number.
  return static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(next_));
}

void ReportReceiver::Prepare() {
  if (prepared_ == nullptr) {
    prepared_ = NewWindow();
  }
}

void ReportReceiver::Assign(BatchId batch) {
  batches_[next_] = batch;
  next_ = prepared_;
  prepared_ = nullptr;
}

void ReportReceiver::Release(BatchId batch) {
  const auto found = std::find_if(batches_.begin(), batches_.end(),
                                  [batch](const auto& entry) { return entry.second == batch; });
  if (found != batches_.end()) {
    ::DestroyWindow(found->first);
    batches_.erase(found);
  }
}

bool ReportReceiver::Deliver(SweepEvents& events) {
  events_ = &events;
  delivered_ = false;
  // Reports are sent, not posted: looking at the queue is what lets them in.
  MSG message{};
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
    ::DispatchMessageA(&message);
  }
  events_ = nullptr;
  return delivered_;
}

void ReportReceiver::Receive(HWND window, const COPYDATASTRUCT& packet) {
  if (events_ == nullptr || packet.dwData != kReportTag || packet.lpData == nullptr ||
      packet.cbData > kMostReportPayload) {
    return;
  }
  const std::string text =
      ReportText(std::span(static_cast<const unsigned char*>(packet.lpData), packet.cbData));
  const auto batch = batches_.find(window);
  events_->OnReport(batch == batches_.end() ? std::nullopt : std::optional(batch->second), text);
  delivered_ = true;
}

LRESULT CALLBACK ReportReceiver::Procedure(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  if (message != WM_COPYDATA) {
    return ::DefWindowProcA(window, message, wParam, lParam);
  }
  // The window keeps its owner, and WM_COPYDATA the packet, as an integer.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  auto* windows = reinterpret_cast<ReportReceiver*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  const auto* packet = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  if (windows != nullptr && packet != nullptr) {
    windows->Receive(window, *packet);
  }
  return TRUE;
}

}  // namespace hostsweep::controller
