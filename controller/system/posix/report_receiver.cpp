#include "controller/system/posix/report_receiver.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/report.h"
#include "controller/base/errors.h"

namespace hostsweep::controller {

ReportReceiver::ReportReceiver(EventLoop& loop) : loop_(loop) {
  auto listener = report_socket::ListenAtFreeHandle(1, INT32_MAX);
  if (!listener.socket.Valid()) {
    throw SystemError(errno == EADDRINUSE ? std::string("cannot find a free report socket name")
                                          : std::string("cannot listen on the report socket: ") +
                                                std::strerror(errno));
  }
  listener_ = std::move(listener.socket);
  handle_ = listener.handle;
}

ReportReceiver::~ReportReceiver() {
  loop_.Unwatch(listener_.Get());
  for (const auto& [socket, connection] : connections_) {
    loop_.Unwatch(socket);
  }
}

void ReportReceiver::Serve(ReportHandler report) {
  report_ = std::move(report);
  loop_.Watch(listener_.Get(), kReadable, [this](unsigned /*ready*/) { Accept(); });
}

void ReportReceiver::Accept() {
  while (auto connection = report_socket::Accept(listener_.Get())) {
    const int socket = connection->socket.Get();
    connections_.emplace(socket, std::move(*connection));
    loop_.Watch(socket, kReadable, [this, socket](unsigned /*ready*/) { Read(socket); });
  }
}

// A worker that connects and never sends only keeps its own connection
// open; nothing here waits for it.
void ReportReceiver::Read(int socket) {
  const pid_t sender = connections_.at(socket).sender;
  const auto deliver = [&](const report_socket::Packet& packet) {
    if (packet.dwData == kReportTag) {
      report_(sender, ReportText(packet.payload));
    }
  };
  if (!report_socket::Receive(socket, 0, deliver)) {
    loop_.Unwatch(socket);
    connections_.erase(socket);
  }
}

}  // namespace hostsweep::controller
