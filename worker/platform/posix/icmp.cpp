// ICMP echo through an ICMP datagram socket where the system allows it to this
// user, else through a raw socket.
// clang-format off
#include <ctime>  // linux/errqueue.h needs timespec but does not include it
#include <linux/errqueue.h>
// clang-format on
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <utility>

#include "common/posix/file_descriptor.h"
#include "platform/os.h"
#include "platform/posix/icmp_packet.h"
#include "platform/posix/last_error.h"

namespace hostsweep::os {
namespace {

using Clock = std::chrono::steady_clock;

struct IcmpFile {
  FileDescriptor socket;
  bool raw;
  std::uint16_t identifier;
};

using icmp_packet::Outcome;
using icmp_packet::Request;

// Each request of the process gets its own sequence number, so that a late
// reply to an earlier request is never taken for the current one.
std::uint16_t nextSequence = 1;

// The longest IP header a reply may come with (raw sockets read it).
constexpr std::size_t kMostIpHeaderSize = 60;
// How long a request the machine could not send waits before the next try.
constexpr std::chrono::milliseconds kSendRetryPause{10};

// The first extended error record among a received message's control data.
std::optional<icmp_packet::QueuedError> ExtendedError(msghdr& message) {
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == SOL_IP && header->cmsg_type == IP_RECVERR) {
      sock_extended_err error{};
      std::memcpy(&error, CMSG_DATA(header), sizeof error);
      return icmp_packet::QueuedError{error.ee_origin == SO_EE_ORIGIN_ICMP, error.ee_type,
                                      error.ee_code, error.ee_errno};
    }
  }
  return std::nullopt;
}

// A header for recvmsg: where the sender's address goes, one buffer, and
// room for control messages.
msghdr ReceiveHeader(sockaddr_in& sender, iovec& io, std::span<char> control) {
  msghdr message{};
  message.msg_name = &sender;
  message.msg_namelen = sizeof sender;
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  return message;
}

// An error queued on the socket about one of its requests.
std::optional<Outcome> ReadQueuedError(int socket, const Request& request) {
  std::array<unsigned char, 576> quoted{};
  std::array<char, 512> control{};
  sockaddr_in target{};
  iovec io{quoted.data(), quoted.size()};
  msghdr message = ReceiveHeader(target, io, control);
  const ssize_t length = recvmsg(socket, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
  if (length < 0) {
    return std::nullopt;
  }
  return icmp_packet::MatchQueuedError(std::span(quoted).first(static_cast<std::size_t>(length)),
                                       target.sin_addr.s_addr, ExtendedError(message), request);
}

UCHAR TtlFromControl(msghdr& message) {
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == SOL_IP && header->cmsg_type == IP_TTL) {
      int ttl = 0;
      std::memcpy(&ttl, CMSG_DATA(header), sizeof ttl);
      return static_cast<UCHAR>(ttl);
    }
  }
  return 0;
}

// Reads one packet from the socket; the reply to `request` or an error about
// it, else nothing.
std::optional<Outcome> ReadAnswer(const IcmpFile& file, const Request& request,
                                  std::span<unsigned char> packet) {
  sockaddr_in source{};
  std::array<char, 64> control{};
  iovec io{packet.data(), packet.size()};
  msghdr message = ReceiveHeader(source, io, control);
  const ssize_t length = recvmsg(file.socket.Get(), &message, MSG_DONTWAIT);
  if (length <= 0) {
    return std::nullopt;
  }
  const auto received = packet.first(static_cast<std::size_t>(length));
  return file.raw ? icmp_packet::MatchRaw(received, request)
                  : icmp_packet::MatchDatagram(received, source.sin_addr.s_addr,
                                               TtlFromControl(message), request);
}

// Waits until `deadline` for the answer to `request`. Other traffic is read
// and dropped. What the socket holds when the deadline comes arrived in time:
// it is read before giving up, so that a worker the scheduler kept waiting
// past its deadline still takes the reply the kernel queued for it (a blocking
// echo call's reply is not lost to a busy machine either). That last reading
// is bounded, as the wait is, whatever else keeps arriving.
Outcome AwaitAnswer(const IcmpFile& file, const Request& request, Clock::time_point deadline,
                    std::span<unsigned char> packet) {
  constexpr int kMostReadsPastDeadline = 16;
  int readsPastDeadline = 0;
  while (readsPastDeadline < kMostReadsPastDeadline) {
    const auto left = std::max<std::chrono::milliseconds::rep>(
        0, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count());
    readsPastDeadline += left == 0 ? 1 : 0;
    pollfd waiting{file.socket.Get(), POLLIN, 0};
    const int ready = poll(&waiting, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) {
      return Outcome{IP_GENERAL_FAILURE, 0, 0, {}};
    }
    if (ready == 0 && left == 0) {
      break;
    }
    if (ready <= 0) {
      continue;
    }
    const auto outcome = (waiting.revents & POLLERR) != 0
                             ? ReadQueuedError(file.socket.Get(), request)
                             : ReadAnswer(file, request, packet);
    if (outcome) {
      return *outcome;
    }
  }
  return Outcome{IP_REQ_TIMED_OUT, 0, 0, {}};
}

// A failure of this machine, not of the network: the request was not sent
// yet (a full neighbour table, no buffer free), and may go out in a moment.
bool IsLocalTransient(int error) {
  return error == ENOBUFS || error == EAGAIN || error == ENOMEM || error == EINTR;
}

// Sends `message`, trying again until `deadline` while the machine cannot
// send it, as a blocking echo call waits out its time-out. A raw socket is
// first connected to the destination, so that the kernel hands it only that
// host's packets (and the errors about its requests, on the error queue)
// instead of a copy of every ICMP packet of the machine. 0 once sent, else
// the error (ETIMEDOUT when the deadline passed unsent).
int Send(const IcmpFile& file, const sockaddr_in& target, std::span<const unsigned char> message,
         Clock::time_point deadline) {
  const auto* address = reinterpret_cast<const sockaddr*>(&target);
  if (file.raw && connect(file.socket.Get(), address, sizeof target) != 0) {
    return errno;
  }
  for (;;) {
    if (sendto(file.socket.Get(), message.data(), message.size(), 0, address, sizeof target) >= 0) {
      return 0;
    }
    const int error = errno;
    if (!IsLocalTransient(error)) {
      return error;
    }
    const auto now = Clock::now();
    if (now >= deadline) {
      return ETIMEDOUT;
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(kSendRetryPause, deadline - now));
  }
}

// Sends `message` and waits until `deadline` for its answer.
Outcome Exchange(const IcmpFile& file, const Request& request,
                 std::span<const unsigned char> message, Clock::time_point deadline,
                 std::span<unsigned char> packet) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = request.destination;
  if (const int error = Send(file, target, message, deadline); error != 0) {
    return Outcome{
        error == ETIMEDOUT ? IP_REQ_TIMED_OUT : icmp_packet::StatusOfErrno(error), 0, 0, {}};
  }
  return AwaitAnswer(file, request, deadline, packet);
}

// Writes the record and the reply's data into the caller's reply buffer, as
// much data as fits, and returns IcmpSendEcho's result.
DWORD WriteReply(const Outcome& outcome, std::int64_t elapsedMs, LPVOID replyBuffer,
                 DWORD replySize) {
  auto* bytes = static_cast<unsigned char*>(replyBuffer);
  auto* reply = static_cast<ICMP_ECHO_REPLY*>(replyBuffer);
  const std::size_t room = replySize - sizeof(ICMP_ECHO_REPLY);
  const std::size_t dataSize = outcome.data.size() < room ? outcome.data.size() : room;
  std::copy_n(outcome.data.begin(), dataSize, bytes + sizeof(ICMP_ECHO_REPLY));
  reply->Address = outcome.from;
  reply->Status = outcome.status;
  reply->RoundTripTime = static_cast<ULONG>(elapsedMs);
  reply->DataSize = static_cast<USHORT>(dataSize);
  reply->Reserved = 0;
  reply->Data = bytes + sizeof(ICMP_ECHO_REPLY);
  reply->Options = IP_OPTION_INFORMATION{outcome.ttl, 0, 0, 0, nullptr};
  if (outcome.status != IP_SUCCESS) {
    SetLastError(outcome.status);
    return 0;
  }
  return 1;
}

}  // namespace

HANDLE IcmpCreateFile() {
  const int on = 1;
  FileDescriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (socket.Valid()) {
    setsockopt(socket.Get(), SOL_IP, IP_RECVTTL, &on, sizeof on);
    setsockopt(socket.Get(), SOL_IP, IP_RECVERR, &on, sizeof on);
    // The kernel chooses the identifier of a datagram socket and sorts replies by it.
    return new IcmpFile{std::move(socket), false, 0};
  }
  // No socket filter: the socket is connected to its destination before its
  // request goes out (see Send), which keeps the machine's other ICMP traffic
  // off it without a filter for the kernel to compile in every worker.
  socket = FileDescriptor(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (!socket.Valid()) {
    SetLastError(IP_GENERAL_FAILURE);
    return INVALID_HANDLE_VALUE;
  }
  // A request the system could not send then fails at once (ENOBUFS) instead
  // of vanishing, and errors about our requests (which come from routers, not
  // from the address the socket is connected to) arrive on the error queue.
  setsockopt(socket.Get(), SOL_IP, IP_RECVERR, &on, sizeof on);
  return new IcmpFile{std::move(socket), true, static_cast<std::uint16_t>(getpid())};
}

BOOL IcmpCloseHandle(HANDLE icmp) {
  if (icmp == nullptr || icmp == INVALID_HANDLE_VALUE) {
    return 0;
  }
  delete static_cast<IcmpFile*>(icmp);
  return 1;
}

DWORD IcmpSendEcho(HANDLE icmp, IPAddr destination, LPVOID requestData, WORD requestSize,
                   IP_OPTION_INFORMATION* /*requestOptions*/, LPVOID replyBuffer, DWORD replySize,
                   DWORD timeout) {
  if (icmp == nullptr || icmp == INVALID_HANDLE_VALUE || replyBuffer == nullptr ||
      replySize < sizeof(ICMP_ECHO_REPLY) + icmp_packet::kIcmpHeaderSize + requestSize) {
    SetLastError(IP_BUF_TOO_SMALL);
    return 0;
  }
  if (requestSize > icmp_packet::kMostEchoData) {
    SetLastError(IP_GENERAL_FAILURE);
    return 0;
  }
  const auto& file = *static_cast<IcmpFile*>(icmp);
  const Request request{destination, file.identifier, nextSequence++};
  const auto message = icmp_packet::EncodeEchoRequest(
      request, std::span(static_cast<const unsigned char*>(requestData), requestSize));
  const auto start = Clock::now();
  // Room for the largest reply the reply buffer can take, behind its IP
  // header; left unfilled, so that only the pages a reply uses are touched.
  const std::size_t packetSize = kMostIpHeaderSize + icmp_packet::kIcmpHeaderSize + replySize;
  const auto packet = std::make_unique_for_overwrite<unsigned char[]>(packetSize);
  const Outcome outcome =
      Exchange(file, request, message, start + std::chrono::milliseconds(timeout),
               {packet.get(), packetSize});
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  return WriteReply(outcome, elapsed, replyBuffer, replySize);
}

}  // namespace hostsweep::os
