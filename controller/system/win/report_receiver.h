// The reply windows: message-only windows that receive the workers' reports as
// WM_COPYDATA. Each batch gets a window of its own, because a name-only answer
// carries no label and WM_COPYDATA does not name its sender: the window a
// report arrives at is what tells its batch. One window is always ready for the
// next batch; its handle is the one the next request line names.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "common/win/unique_handle.h"
#include "controller/system/worker_host.h"

namespace hostsweep::controller {

class ReportReceiver {
 public:
  // Throws SystemError when no window can be made.
  ReportReceiver();
  ~ReportReceiver();
  ReportReceiver(const ReportReceiver&) = delete;
  ReportReceiver& operator=(const ReportReceiver&) = delete;

  // The handle of the window the next batch gets.
  [[nodiscard]] std::int32_t NextHandle() const;
  // Makes the window that will follow the next one. Throws SystemError; done
  // before a worker starts, so that a batch is never left without its window.
  void Prepare();
  // Gives the next window to `batch`, and the prepared one becomes the next.
  void Assign(BatchId batch);
  void Release(BatchId batch);

  // Hands every report that has arrived to `events`; false when there was none.
  bool Deliver(SweepEvents& events);

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Receive(HWND window, const COPYDATASTRUCT& packet);
  [[nodiscard]] HWND NewWindow() const;

  HWND next_ = nullptr;
  HWND prepared_ = nullptr;
  std::map<HWND, BatchId> batches_;
  SweepEvents* events_ = nullptr;
  bool delivered_ = false;
};

}  // namespace hostsweep::controller
