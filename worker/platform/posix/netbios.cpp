// NetBIOS over TCP/IP as far as the worker needs it: a reset that has nothing
// to reset, and the adapter status of a remote host named by its address,
// asked with a node status request to its name service port.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <random>
#include <variant>
#include <vector>

#include "common/posix/file_descriptor.h"
#include "platform/os.h"
#include "platform/posix/adapter_status.h"

namespace hostsweep::os {
namespace {

using Clock = std::chrono::steady_clock;

// The platform's own timing: three tries, 750 ms each.
constexpr int kTries = 3;
constexpr std::chrono::milliseconds kTryPatience{750};
// Larger than any UDP datagram, so that a reply is never cut short unnoticed.
constexpr std::size_t kReceiveBufferSize = 65536;

std::uint16_t NewTransactionId() {
  static std::mt19937 random{std::random_device{}()};
  return static_cast<std::uint16_t>(random());
}

// Errors a connected datagram socket reports for earlier datagrams: a port
// unreachable answer is the host saying no; the others may pass.
enum class SocketError { kRefused, kTransient, kOther };

SocketError Classify(int error) {
  switch (error) {
    case ECONNREFUSED:
      return SocketError::kRefused;
    case EINTR:
    case EAGAIN:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
      return SocketError::kTransient;
    default:
      return SocketError::kOther;
  }
}

UCHAR CodeOf(SocketError error) { return error == SocketError::kRefused ? NRC_NOCALL : NRC_SYSTEM; }

// Waits until `deadline` for the answer to `transactionId`; anything else
// that arrives is dropped.
std::variant<node_status::NodeStatus, UCHAR, std::monostate> AwaitReply(
    int socket, std::uint16_t transactionId, Clock::time_point deadline,
    std::vector<std::uint8_t>& buffer) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      return std::monostate{};
    }
    pollfd waiting{socket, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(left.count())) <= 0) {
      continue;
    }
    const ssize_t length = recv(socket, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT);
    if (length < 0) {
      const auto error = Classify(errno);
      if (error != SocketError::kTransient) {
        return CodeOf(error);
      }
      continue;
    }
    if (static_cast<std::size_t>(length) > buffer.size()) {
      continue;
    }
    if (auto status = node_status::ParseReply(
            std::span(buffer).first(static_cast<std::size_t>(length)), transactionId)) {
      return *std::move(status);
    }
  }
}

// The node status of the host at `address`, or the code to return.
std::variant<node_status::NodeStatus, UCHAR> AskNodeStatus(std::uint32_t address) {
  const FileDescriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(node_status::kPort);
  peer.sin_addr.s_addr = address;
  // Connected, so that only the host's own datagrams arrive and its port
  // unreachable answer is reported.
  if (!socket.Valid() ||
      connect(socket.Get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    return NRC_SYSTEM;
  }
  // One transaction ID for all tries, so a late answer to an earlier try counts.
  const std::uint16_t transactionId = NewTransactionId();
  const auto request = node_status::EncodeRequest(transactionId);
  std::vector<std::uint8_t> buffer(kReceiveBufferSize);
  for (int attempt = 0; attempt < kTries; ++attempt) {
    const auto deadline = Clock::now() + kTryPatience;
    if (send(socket.Get(), request.data(), request.size(), MSG_NOSIGNAL) < 0) {
      const auto error = Classify(errno);
      if (error != SocketError::kTransient) {
        return CodeOf(error);
      }
    }
    auto outcome = AwaitReply(socket.Get(), transactionId, deadline, buffer);
    if (auto* status = std::get_if<node_status::NodeStatus>(&outcome)) {
      return std::move(*status);
    }
    if (const auto* code = std::get_if<UCHAR>(&outcome)) {
      return *code;
    }
  }
  return NRC_CMDTMO;
}

UCHAR AdapterStatus(NCB& control) {
  if (control.ncb_lana_num != 0) {
    return NRC_BRIDGE;
  }
  if (!node_status::HoldsAdapterStatus(control.ncb_buffer, control.ncb_length)) {
    return NRC_BUFLEN;
  }
  const auto address = node_status::CallNameAddress(control.ncb_callname);
  if (!address) {
    return NRC_NOCALL;
  }
  const auto answer = AskNodeStatus(*address);
  if (const auto* code = std::get_if<UCHAR>(&answer)) {
    return *code;
  }
  const auto written = node_status::WriteAdapterStatus(std::get<node_status::NodeStatus>(answer),
                                                       control.ncb_buffer, control.ncb_length);
  control.ncb_length = written.length;
  return written.code;
}

UCHAR Run(NCB& control) {
  // Every command completes before Netbios returns; there is no one to post to.
  if ((control.ncb_command & ASYNCH) != 0) {
    return NRC_ILLCMD;
  }
  switch (control.ncb_command) {
    case NCBRESET:
      return NRC_GOODRET;
    case NCBASTAT:
      return AdapterStatus(control);
    default:
      return NRC_ILLCMD;
  }
}

}  // namespace

UCHAR Netbios(NCB* control) {
  if (control == nullptr) {
    return NRC_BADDR;
  }
  const UCHAR code = Run(*control);
  control->ncb_retcode = code;
  control->ncb_cmd_cplt = code;
  return code;
}

}  // namespace hostsweep::os
