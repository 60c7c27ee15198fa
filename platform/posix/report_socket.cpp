#include "platform/posix/report_socket.h"

#include <unistd.h>

#include <cstring>

namespace hostsweep::report_socket {
namespace {

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

}  // namespace hostsweep::report_socket
