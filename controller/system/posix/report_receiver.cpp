#include "controller/system/posix/report_receiver.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/report.h"
#include "controller/base/errors.h"

namespace hostsweep::controller {

ReportReceiver::ReportReceiver() {
  auto listener = report_socket::ListenAtFreeHandle(1, INT32_MAX);
  if (!listener.socket.Valid()) {
    throw SystemError(errno == EADDRINUSE ? std::string("cannot find a free report socket name")
                                          : std::string("cannot listen on the report socket: ") +
                                                std::strerror(errno));
  }
  listener_ = std::move(listener.socket);
  handle_ = listener.handle;
}

void ReportReceiver::Watch(PollSet& set) const {
  set.Add(listener_.Get());
  for (const auto& connection : connections_) {
    set.Add(connection.socket.Get());
  }
}

void ReportReceiver::Serve(const PollSet& set, const ReportHandler& report) {
  // A worker that connects and never sends only keeps its own connection
  // open; nothing here waits for it.
  std::erase_if(connections_, [&](const report_socket::Connection& connection) {
    const auto deliver = [&](const report_socket::Packet& packet) {
      if (packet.dwData == kReportTag) {
        report(connection.sender, ReportText(packet.payload));
      }
    };
    return set.Events(connection.socket.Get()) != 0 &&
           !report_socket::Receive(connection.socket.Get(), 0, deliver);
  });
  if ((set.Events(listener_.Get()) & POLLIN) != 0) {
    while (auto connection = report_socket::Accept(listener_.Get())) {
      connections_.push_back(std::move(*connection));
    }
  }
}

}  // namespace hostsweep::controller
