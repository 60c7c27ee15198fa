// ICMP echo messages as the Linux stand-in writes and reads them: the request
// it sends, and which of the packets that arrive answer that request. Pure
// functions of bytes; the socket work is in icmp.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/posix/os_types.h"

namespace hostsweep::icmp_packet {

inline constexpr std::size_t kIcmpHeaderSize = 8;
// The most data an echo request can carry: an IPv4 packet's 65535 bytes less
// a 20-byte IP header and the ICMP header.
inline constexpr std::size_t kMostEchoData = 65535 - 20 - kIcmpHeaderSize;
inline constexpr std::size_t kIpHeaderSize = 20;

// The request a packet has to answer. A datagram socket's identifier is the
// kernel's choice (and the kernel sorts replies by it), so there it is 0 and
// not compared.
struct Request {
  os::IPAddr destination;
  std::uint16_t identifier;
  std::uint16_t sequence;
};

// What a request came to, as IcmpSendEcho reports it. `data` views the
// packet that was read.
struct Outcome {
  os::ULONG status;
  os::IPAddr from;
  os::UCHAR ttl;
  std::span<const unsigned char> data;
};

// An error the kernel queued on a socket (its extended error record).
struct QueuedError {
  bool fromIcmp;  // an ICMP message, else a local failure given as an errno
  std::uint8_t type;
  std::uint8_t code;
  std::uint32_t error;
};

// The Internet checksum (RFC 1071) of `bytes`.
std::uint16_t Checksum(std::span<const unsigned char> bytes);

// An echo request: type 8, code 0, checksum, identifier, sequence, `data`;
// data beyond kMostEchoData is left out (no packet could carry it).
std::vector<unsigned char> EncodeEchoRequest(const Request& request,
                                             std::span<const unsigned char> data);

// The IcmpSendEcho status for an ICMP error message, and for a local errno.
os::ULONG StatusOfIcmpError(int type, int code);
os::ULONG StatusOfErrno(int error);

// A packet from a raw socket (IP header, then ICMP): the reply to `request`,
// or an error that quotes it; nothing for anything else.
std::optional<Outcome> MatchRaw(std::span<const unsigned char> packet, const Request& request);

// A packet from a datagram socket (ICMP only; the source address and the TTL
// arrive beside it): the reply to `request`, or nothing.
std::optional<Outcome> MatchDatagram(std::span<const unsigned char> icmp, os::IPAddr source,
                                     os::UCHAR ttl, const Request& request);

// An error read from a socket's error queue: `quoted` is the request as the
// kernel gives it back, `target` where it was sent, `error` the first extended
// error record that came with it. A raw socket hears of every process's
// requests to its destination, so there the identifier has to be ours.
std::optional<Outcome> MatchQueuedError(std::span<const unsigned char> quoted, os::IPAddr target,
                                        const std::optional<QueuedError>& error,
                                        const Request& request);

}  // namespace hostsweep::icmp_packet
