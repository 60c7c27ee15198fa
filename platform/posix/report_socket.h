// How a report reaches its receiver on systems without window messages: the
// window handle names an abstract local socket "hostsweep/<handle>" (a
// sequenced-packet socket); each report is one packet of dwData (4 bytes,
// little-endian), cbData (4 bytes, little-endian) and cbData payload bytes,
// and the receiver answers with one byte once it has handled it.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace hostsweep::report_socket {

inline constexpr std::size_t kHeaderSize = 8;
inline constexpr unsigned char kAcknowledgement = 1;

struct Address {
  sockaddr_un name;
  socklen_t length;
};

// The abstract socket address for a window handle.
Address AddressOf(std::int32_t handle);

struct Packet {
  std::uint32_t dwData;
  std::vector<unsigned char> payload;  // cbData bytes
};

std::vector<unsigned char> Encode(std::uint32_t dwData, std::span<const unsigned char> payload);
// The packet in `bytes`, or nothing when its header or length is wrong.
std::optional<Packet> Decode(std::span<const unsigned char> bytes);

// True when the process at the other end of `socket` runs as this process's user.
bool PeerIsSameUser(int socket);

}  // namespace hostsweep::report_socket
