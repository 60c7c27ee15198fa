#include "controller/posix/report_receiver.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <random>

#include "controller/errors.h"
#include "platform/posix/report_socket.h"

namespace hostsweep::controller {
namespace {

// The copy-data tag of every report.
constexpr std::uint32_t kReportTag = 3;
constexpr int kBindAttempts = 100;
constexpr int kBacklog = 256;
// Reports fit a 255-byte buffer; anything much longer is not a report.
constexpr std::size_t kMostPacket = 4096;

}  // namespace

ReportReceiver::ReportReceiver() {
  std::random_device seed;
  std::uniform_int_distribution<std::int32_t> pick(1, INT32_MAX);
  for (int attempt = 0; attempt < kBindAttempts; ++attempt) {
    FileDescriptor socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.Valid()) {
      throw SystemError(std::string("cannot create the report socket: ") + std::strerror(errno));
    }
    const std::int32_t handle = pick(seed);
    const auto address = report_socket::AddressOf(handle);
    if (bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address.name), address.length) != 0) {
      if (errno == EADDRINUSE) {
        continue;  // another receiver has this handle; try another
      }
      throw SystemError(std::string("cannot bind the report socket: ") + std::strerror(errno));
    }
    if (listen(socket.Get(), kBacklog) != 0) {
      throw SystemError(std::string("cannot listen on the report socket: ") + std::strerror(errno));
    }
    listener_ = std::move(socket);
    handle_ = handle;
    return;
  }
  throw SystemError("cannot find a free report socket name");
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
  std::erase_if(connections_, [&](const Connection& connection) {
    const short events = set.Events(connection.socket.Get());
    return events != 0 && !ReadPacket(connection, report);
  });
  if ((set.Events(listener_.Get()) & POLLIN) != 0) {
    AcceptAll();
  }
}

void ReportReceiver::AcceptAll() {
  for (;;) {
    FileDescriptor socket(accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!socket.Valid()) {
      return;  // EAGAIN: none left; anything else: that peer is gone
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    if (!report_socket::PeerIsSameUser(socket.Get()) ||
        getsockopt(socket.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
      continue;  // another user's process: dropped unheard
    }
    connections_.push_back({std::move(socket), peer.pid});
  }
}

bool ReportReceiver::ReadPacket(const Connection& connection, const ReportHandler& report) {
  std::array<unsigned char, kMostPacket> buffer{};
  const ssize_t size = recv(connection.socket.Get(), buffer.data(), buffer.size(), MSG_TRUNC);
  if (size < 0) {
    return errno == EAGAIN || errno == EINTR;
  }
  if (size == 0) {
    return false;
  }
  const auto bytes = std::span(buffer).first(std::min<std::size_t>(size, buffer.size()));
  const auto packet =
      static_cast<std::size_t>(size) <= buffer.size() ? report_socket::Decode(bytes) : std::nullopt;
  if (packet && packet->dwData == kReportTag) {
    // The payload is the text and its terminating zero byte.
    const auto& payload = packet->payload;
    const auto end = std::find(payload.begin(), payload.end(), '\0');
    report(connection.sender, std::string(payload.begin(), end));
  }
  // Even a malformed packet is answered: its sender waits for the answer.
  send(connection.socket.Get(), &report_socket::kAcknowledgement, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
  // A connection carries one report: closing now, not when the worker's end
  // closes, leaves nothing open once the last report of a sweep is in.
  return false;
}

}  // namespace hostsweep::controller
