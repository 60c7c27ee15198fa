// How a report reaches its receiver on systems without window messages: the
// window handle names an abstract local socket "hostsweep/<handle>" (a
// sequenced-packet socket); each report is one packet of dwData (4 bytes,
// little-endian), cbData (4 bytes, little-endian) and cbData payload bytes,
// and the receiver answers with one byte once it has handled it.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/posix/file_descriptor.h"

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

// The receiving end, shared by the controller and every stand-in for it.

// A non-blocking listening socket at "hostsweep/<handle>"; an invalid one,
// errno set, when it cannot be had (EADDRINUSE: another receiver has it).
FileDescriptor Listen(std::int32_t handle);

struct Listener {
  FileDescriptor socket;
  std::int32_t handle = 0;
};

// Listens at a handle picked at random from [lowest, highest] that no other
// receiver has. An invalid socket, errno set, when none can be had.
Listener ListenAtFreeHandle(std::int32_t lowest, std::int32_t highest);

struct Connection {
  FileDescriptor socket;  // non-blocking
  pid_t sender;
};

// The next waiting connection from a process of this user; other users'
// connections are closed unheard. Nothing once none is waiting (or the one
// waiting is already gone).
std::optional<Connection> Accept(int listener);

using PacketHandler = std::function<void(const Packet& packet)>;

// Waits up to `patienceMs` for the one packet a connection carries, hands it
// to `handle` when it is well formed and its payload at most
// kMostReportPayload bytes, then answers it, well formed or not: its sender
// waits for the answer. True when nothing has come yet and the connection is
// still open; false once it is finished with.
bool Receive(int connection, int patienceMs, const PacketHandler& handle);

}  // namespace hostsweep::report_socket
