// The reply window's stand-in: an abstract sequenced-packet socket
// "hostsweep/<handle>" that accepts workers of this user and answers each
// report packet with one byte once it has been handled.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "common/posix/file_descriptor.h"
#include "common/posix/report_socket.h"
#include "controller/system/event_loop.h"

namespace hostsweep::controller {

class ReportReceiver {
 public:
  using ReportHandler = std::function<void(pid_t sender, const std::string& text)>;

  // Binds a free handle. Throws SystemError when no socket can be bound.
  explicit ReportReceiver(EventLoop& loop);
  ~ReportReceiver();
  ReportReceiver(const ReportReceiver&) = delete;
  ReportReceiver& operator=(const ReportReceiver&) = delete;

  [[nodiscard]] std::int32_t Handle() const { return handle_; }

  // From now on, as the loop turns, accepts new workers and reads their
  // packets. `report` gets the sending process's id and the report text; the
  // packet is acknowledged after it.
  void Serve(ReportHandler report);

 private:
  void Accept();
  void Read(int connection);

  EventLoop& loop_;
  FileDescriptor listener_;
  std::int32_t handle_ = 0;
  ReportHandler report_;
  std::map<int, report_socket::Connection> connections_;  // by socket
};

}  // namespace hostsweep::controller
