// ICMP echo through an ICMP datagram socket where the system allows it to this
// user, else through a raw socket.
// clang-format off
#include <ctime>  // linux/errqueue.h needs timespec but does not include it
#include <linux/errqueue.h>
// clang-format on
#include <linux/filter.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "platform/os.h"
#include "platform/posix/last_error.h"

namespace hostsweep::os {
namespace {

using Clock = std::chrono::steady_clock;

struct IcmpFile {
  int socket;
  bool raw;
  std::uint16_t identifier;
};

struct Outcome {
  ULONG status;
  IPAddr from;
  UCHAR ttl;
  std::span<const unsigned char> data;
};

constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kIpHeaderSize = 20;

// Each request of the process gets its own sequence number, so that a late
// reply to an earlier request is never taken for the current one.
std::uint16_t nextSequence = 1;

std::uint16_t Checksum(std::span<const unsigned char> bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
  }
  if (bytes.size() % 2 != 0) {
    sum += static_cast<std::uint32_t>(bytes.back() << 8);
  }
  while (sum >> 16 != 0) {
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<std::uint16_t>(~sum);
}

std::uint16_t ReadBigEndian16(const unsigned char* bytes) {
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

ULONG StatusOfIcmpError(int type, int code) {
  if (type == ICMP_TIME_EXCEEDED) {
    return IP_TTL_EXPIRED_TRANSIT;
  }
  switch (code) {
    case ICMP_NET_UNREACH:
      return IP_DEST_NET_UNREACHABLE;
    case ICMP_PROT_UNREACH:
      return IP_DEST_PROT_UNREACHABLE;
    case ICMP_PORT_UNREACH:
      return IP_DEST_PORT_UNREACHABLE;
    default:
      return IP_DEST_HOST_UNREACHABLE;
  }
}

ULONG StatusOfErrno(int error) {
  switch (error) {
    case ENETUNREACH:
      return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return IP_DEST_HOST_UNREACHABLE;
    default:
      return IP_GENERAL_FAILURE;
  }
}

// On a raw socket every ICMP packet of the machine arrives; keep all but our
// own replies and errors about our own requests out in the kernel, since many
// workers may be listening at once.
bool InstallRawFilter(int socket, std::uint16_t identifier) {
  constexpr std::uint32_t kEmbeddedIdentifier = kIcmpHeaderSize + kIpHeaderSize + 4;
  std::array<sock_filter, 11> code{{
      BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),
      BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_DEST_UNREACH, 2, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_TIME_EXCEEDED, 1, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_ECHOREPLY, 2, 5),
      BPF_STMT(BPF_LD | BPF_H | BPF_IND, kEmbeddedIdentifier),
      BPF_JUMP(BPF_JMP | BPF_JA, 1, 0, 0),
      BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, 0xFFFF),
      BPF_STMT(BPF_RET | BPF_K, 0),
  }};
  const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
  return setsockopt(socket, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

// A reply or error on a raw socket: IP header, then ICMP.
std::optional<Outcome> MatchRaw(std::span<const unsigned char> packet, const IcmpFile& file,
                                IPAddr destination, std::uint16_t sequence) {
  if (packet.size() < kIpHeaderSize) {
    return std::nullopt;
  }
  const std::size_t ipLength = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
  if (ipLength < kIpHeaderSize || packet.size() < ipLength + kIcmpHeaderSize) {
    return std::nullopt;
  }
  IPAddr source = 0;
  std::memcpy(&source, &packet[12], sizeof source);
  const UCHAR ttl = packet[8];
  const auto icmp = packet.subspan(ipLength);
  if (icmp[0] == ICMP_ECHOREPLY) {
    if (source != destination || ReadBigEndian16(&icmp[4]) != file.identifier ||
        ReadBigEndian16(&icmp[6]) != sequence) {
      return std::nullopt;
    }
    return Outcome{IP_SUCCESS, source, ttl, icmp.subspan(kIcmpHeaderSize)};
  }
  if (icmp[0] != ICMP_DEST_UNREACH && icmp[0] != ICMP_TIME_EXCEEDED) {
    return std::nullopt;
  }
  // The error quotes our request: its IP header, then the ICMP header.
  const auto quoted = icmp.subspan(kIcmpHeaderSize);
  if (quoted.size() < kIpHeaderSize) {
    return std::nullopt;
  }
  const std::size_t quotedIpLength = static_cast<std::size_t>(quoted[0] & 0x0F) * 4;
  if (quotedIpLength < kIpHeaderSize || quoted.size() < quotedIpLength + kIcmpHeaderSize) {
    return std::nullopt;
  }
  IPAddr quotedDestination = 0;
  std::memcpy(&quotedDestination, &quoted[16], sizeof quotedDestination);
  const auto request = quoted.subspan(quotedIpLength);
  if (quoted[9] != IPPROTO_ICMP || quotedDestination != destination || request[0] != ICMP_ECHO ||
      ReadBigEndian16(&request[4]) != file.identifier || ReadBigEndian16(&request[6]) != sequence) {
    return std::nullopt;
  }
  return Outcome{StatusOfIcmpError(icmp[0], icmp[1]), source, ttl, {}};
}

// A reply on a datagram socket: ICMP only; the TTL comes as control data.
std::optional<Outcome> MatchDatagram(std::span<const unsigned char> icmp, IPAddr source, UCHAR ttl,
                                     IPAddr destination, std::uint16_t sequence) {
  if (icmp.size() < kIcmpHeaderSize || icmp[0] != ICMP_ECHOREPLY || source != destination ||
      ReadBigEndian16(&icmp[6]) != sequence) {
    return std::nullopt;
  }
  return Outcome{IP_SUCCESS, source, ttl, icmp.subspan(kIcmpHeaderSize)};
}

// An error queued on a datagram socket about one of its requests.
std::optional<Outcome> ReadQueuedError(int socket, IPAddr destination, std::uint16_t sequence) {
  std::array<unsigned char, 576> quoted{};
  std::array<char, 512> control{};
  sockaddr_in target{};
  iovec io{quoted.data(), quoted.size()};
  msghdr message{};
  message.msg_name = &target;
  message.msg_namelen = sizeof target;
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  const ssize_t length = recvmsg(socket, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
  if (length < static_cast<ssize_t>(kIcmpHeaderSize) || target.sin_addr.s_addr != destination ||
      ReadBigEndian16(&quoted[6]) != sequence) {
    return std::nullopt;
  }
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != SOL_IP || header->cmsg_type != IP_RECVERR) {
      continue;
    }
    sock_extended_err error{};
    std::memcpy(&error, CMSG_DATA(header), sizeof error);
    const ULONG status = error.ee_origin == SO_EE_ORIGIN_ICMP
                             ? StatusOfIcmpError(error.ee_type, error.ee_code)
                             : StatusOfErrno(static_cast<int>(error.ee_errno));
    return Outcome{status, destination, 0, {}};
  }
  return std::nullopt;
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

// Waits until `deadline` for the answer to request `sequence`. Other traffic
// is read and dropped.
Outcome AwaitAnswer(const IcmpFile& file, IPAddr destination, std::uint16_t sequence,
                    Clock::time_point deadline, std::span<unsigned char> packet) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      return Outcome{IP_REQ_TIMED_OUT, 0, 0, {}};
    }
    pollfd waiting{file.socket, POLLIN, 0};
    const int ready = poll(&waiting, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) {
      return Outcome{IP_GENERAL_FAILURE, 0, 0, {}};
    }
    if (ready <= 0) {
      continue;
    }
    if ((waiting.revents & POLLERR) != 0) {
      if (auto outcome = ReadQueuedError(file.socket, destination, sequence)) {
        return *outcome;
      }
      continue;
    }
    sockaddr_in source{};
    std::array<char, 64> control{};
    iovec io{packet.data(), packet.size()};
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t length = recvmsg(file.socket, &message, MSG_DONTWAIT);
    if (length <= 0) {
      continue;
    }
    const auto received = packet.first(static_cast<std::size_t>(length));
    const auto outcome = file.raw ? MatchRaw(received, file, destination, sequence)
                                  : MatchDatagram(received, source.sin_addr.s_addr,
                                                  TtlFromControl(message), destination, sequence);
    if (outcome) {
      return *outcome;
    }
  }
}

}  // namespace

HANDLE IcmpCreateFile() {
  const int on = 1;
  int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (socket >= 0) {
    setsockopt(socket, SOL_IP, IP_RECVTTL, &on, sizeof on);
    setsockopt(socket, SOL_IP, IP_RECVERR, &on, sizeof on);
    // The kernel chooses the identifier of a datagram socket and sorts replies by it.
    return new IcmpFile{socket, false, 0};
  }
  socket = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (socket < 0) {
    SetLastError(IP_GENERAL_FAILURE);
    return INVALID_HANDLE_VALUE;
  }
  const auto identifier = static_cast<std::uint16_t>(getpid());
  if (!InstallRawFilter(socket, identifier)) {
    close(socket);
    SetLastError(IP_GENERAL_FAILURE);
    return INVALID_HANDLE_VALUE;
  }
  return new IcmpFile{socket, true, identifier};
}

BOOL IcmpCloseHandle(HANDLE icmp) {
  if (icmp == nullptr || icmp == INVALID_HANDLE_VALUE) {
    return 0;
  }
  const auto* file = static_cast<IcmpFile*>(icmp);
  close(file->socket);
  delete file;
  return 1;
}

DWORD IcmpSendEcho(HANDLE icmp, IPAddr destination, LPVOID requestData, WORD requestSize,
                   IP_OPTION_INFORMATION* /*requestOptions*/, LPVOID replyBuffer, DWORD replySize,
                   DWORD timeout) {
  if (icmp == nullptr || icmp == INVALID_HANDLE_VALUE || replyBuffer == nullptr ||
      replySize < sizeof(ICMP_ECHO_REPLY) + kIcmpHeaderSize + requestSize) {
    SetLastError(IP_BUF_TOO_SMALL);
    return 0;
  }
  const auto& file = *static_cast<IcmpFile*>(icmp);
  const std::uint16_t sequence = nextSequence++;

  std::array<unsigned char, kIcmpHeaderSize + 0xFFFF> request{};
  request[0] = ICMP_ECHO;
  request[4] = static_cast<unsigned char>(file.identifier >> 8);
  request[5] = static_cast<unsigned char>(file.identifier & 0xFF);
  request[6] = static_cast<unsigned char>(sequence >> 8);
  request[7] = static_cast<unsigned char>(sequence & 0xFF);
  std::memcpy(&request[kIcmpHeaderSize], requestData, requestSize);
  const auto message = std::span(request).first(kIcmpHeaderSize + requestSize);
  const std::uint16_t checksum = Checksum(message);
  request[2] = static_cast<unsigned char>(checksum >> 8);
  request[3] = static_cast<unsigned char>(checksum & 0xFF);

  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = destination;
  const auto start = Clock::now();
  Outcome outcome{};
  std::array<unsigned char, 65536> packet{};
  if (sendto(file.socket, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&target),
             sizeof target) < 0) {
    outcome = Outcome{StatusOfErrno(errno), 0, 0, {}};
  } else {
    outcome = AwaitAnswer(file, destination, sequence, start + std::chrono::milliseconds(timeout),
                          packet);
  }
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();

  auto* bytes = static_cast<unsigned char*>(replyBuffer);
  auto* reply = static_cast<ICMP_ECHO_REPLY*>(replyBuffer);
  const std::size_t room = replySize - sizeof(ICMP_ECHO_REPLY);
  const std::size_t dataSize = outcome.data.size() < room ? outcome.data.size() : room;
  std::copy_n(outcome.data.begin(), dataSize, bytes + sizeof(ICMP_ECHO_REPLY));
  reply->Address = outcome.from;
  reply->Status = outcome.status;
  reply->RoundTripTime = static_cast<ULONG>(elapsed);
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

}  // namespace hostsweep::os
