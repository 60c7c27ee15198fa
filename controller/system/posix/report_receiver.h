// The reply window's stand-in: an abstract sequenced-packet socket
// "hostsweep/<handle>" that accepts workers of this user and answers each
// report packet with one byte once it has been handled.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/posix/file_descriptor.h"
#include "common/posix/report_socket.h"
#include "controller/system/posix/poll_set.h"

namespace hostsweep::controller {

class ReportReceiver {
 public:
  using ReportHandler = std::function<void(pid_t sender, const std::string& text)>;

  // Binds a free handle. Throws SystemError when no socket can be bound.
  ReportReceiver();

  [[nodiscard]] std::int32_t Handle() const { return handle_; }

  void Watch(PollSet& set) const;
  // Accepts new workers and reads their packets. `report` gets the sending
  // process's id and the report text; the packet is acknowledged after it.
  void Serve(const PollSet& set, const ReportHandler& report);

 private:
  FileDescriptor listener_;
  std::int32_t handle_ = 0;
  std::vector<report_socket::Connection> connections_;
};

}  // namespace hostsweep::controller
