#include "common/posix/report_socket.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <random>

#include "common/report.h"

namespace hostsweep::report_socket {
namespace {

constexpr int kBindAttempts = 100;
constexpr int kBacklog = 256;
constexpr std::size_t kMostPacket = kHeaderSize + kMostReportPayload;

void PutLittleEndian32(std::vector<unsigned char>& bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    bytes.push_back(static_cast<unsigned char>(value >> shift));
  }
}

std::uint32_t GetLittleEndian32(std::span<const unsigned char> bytes) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = value << 8 | bytes[static_cast<std::size_t>(i)];
  }
  return value;
}

}  // namespace

Address AddressOf(std::int32_t handle) {
  Address address{};
  address.name.sun_family = AF_UNIX;
  const std::string name = "hostsweep/" + std::to_string(handle);
  // Abstract: a zero byte first, and the name's length, not a terminator, ends it.
  std::memcpy(address.name.sun_path + 1, name.data(), name.size());
  address.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return address;
}

std::vector<unsigned char> Encode(std::uint32_t dwData, std::span<const unsigned char> payload) {
  std::vector<unsigned char> bytes;
  bytes.reserve(kHeaderSize + payload.size());
  PutLittleEndian32(bytes, dwData);
  PutLittleEndian32(bytes, static_cast<std::uint32_t>(payload.size()));
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

std::optional<Packet> Decode(std::span<const unsigned char> bytes) {
  if (bytes.size() < kHeaderSize) {
    return std::nullopt;
  }
  const std::uint32_t cbData = GetLittleEndian32(bytes.subspan(4, 4));
  if (cbData != bytes.size() - kHeaderSize) {
    return std::nullopt;
  }
  const auto payload = bytes.subspan(kHeaderSize);
  return Packet{GetLittleEndian32(bytes.first(4)), {payload.begin(), payload.end()}};
}

bool PeerIsSameUser(int socket) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == geteuid();
}

FileDescriptor Listen(std::int32_t handle) {
  const auto address = AddressOf(handle);
  FileDescriptor socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket.Valid() ||
      bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address.name), address.length) != 0 ||
      listen(socket.Get(), kBacklog) != 0) {
    const int error = errno;
    socket.Close();
    errno = error;
  }
  return socket;
}

Listener ListenAtFreeHandle(std::int32_t lowest, std::int32_t highest) {
  std::random_device seed;
  std::uniform_int_distribution<std::int32_t> pick(lowest, highest);
  Listener listener;
  for (int attempt = 0; attempt < kBindAttempts; ++attempt) {
    listener.handle = pick(seed);
    listener.socket = Listen(listener.handle);
    if (listener.socket.Valid() || errno != EADDRINUSE) {
      break;
    }
  }
  return listener;
}

std::optional<Connection> Accept(int listener) {
  for (;;) {
    FileDescriptor socket(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!socket.Valid()) {
      return std::nullopt;  // EAGAIN: none left; anything else: that peer is gone
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    if (PeerIsSameUser(socket.Get()) &&
        getsockopt(socket.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0) {
      return Connection{std::move(socket), peer.pid};
    }
  }
}

bool Receive(int connection, int patienceMs, const PacketHandler& handle) {
  // Whatever the wait ends with, the read below tells what there is.
  pollfd readable{connection, POLLIN, 0};
  poll(&readable, 1, patienceMs);
  std::array<unsigned char, kMostPacket> buffer{};
  const ssize_t size = recv(connection, buffer.data(), buffer.size(), MSG_TRUNC);
  if (size < 0) {
    return errno == EAGAIN || errno == EINTR;
  }
  if (size == 0) {
    return false;
  }
  const auto packet = static_cast<std::size_t>(size) <= buffer.size()
                          ? Decode(std::span(buffer).first(static_cast<std::size_t>(size)))
                          : std::nullopt;
  if (packet) {
    handle(*packet);
  }
  send(connection, &kAcknowledgement, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
  // A connection carries one report: closing now, not when the sender's end
  // closes, leaves nothing open once the last report is in.
  return false;
}

}  // namespace hostsweep::report_socket
