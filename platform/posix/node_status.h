// NetBIOS name service NODE STATUS messages (RFC 1002, 4.2.17 and 4.2.18):
// the request the adapter status stand-in sends, a defensive reading of
// replies, and the adapter status block a reply becomes. Replies come from
// whoever answers on the network, so every read is bounded by the datagram.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/posix/os_types.h"

namespace hostsweep::node_status {

inline constexpr std::uint16_t kPort = 137;
inline constexpr std::size_t kNetbiosNameSize = 16;
inline constexpr std::size_t kUnitIdSize = 6;
// The statistics that follow the name table, unit ID first.
inline constexpr std::size_t kStatisticsSize = 46;

// NAME_FLAGS of a node name entry.
inline constexpr std::uint16_t kGroupFlag = 0x8000;
inline constexpr std::uint16_t kDeregisteringFlag = 0x1000;
inline constexpr std::uint16_t kConflictFlag = 0x0800;
inline constexpr std::uint16_t kActiveFlag = 0x0400;

struct NameEntry {
  std::array<std::uint8_t, kNetbiosNameSize> name;  // 15 characters and the suffix byte
  std::uint16_t flags;
};

struct NodeStatus {
  std::vector<NameEntry> names;
  // Unit ID, then the counters; bytes a reply leaves out stay zero.
  std::array<std::uint8_t, kStatisticsSize> statistics;
};

// A question a responder received: its transaction ID and its name as sent
// (encoded "*" and any scope), to be echoed in the answer.
struct Request {
  std::uint16_t transactionId;
  std::vector<std::uint8_t> questionName;
};

std::vector<std::uint8_t> EncodeRequest(std::uint16_t transactionId);

// The answer to `request`, its name followed by the labels of `scope`.
std::vector<std::uint8_t> EncodeReply(const Request& request, const NodeStatus& status,
                                      const std::vector<std::string>& scope = {});

// The node status request in `datagram`, or nothing when it is not one.
std::optional<Request> ParseRequest(std::span<const std::uint8_t> datagram);

// The node status in `datagram` when it is a well-formed positive answer to
// the request with `transactionId`; nothing otherwise.
std::optional<NodeStatus> ParseReply(std::span<const std::uint8_t> datagram,
                                     std::uint16_t transactionId);

// The IPv4 address a call name holds: its text up to the first zero byte,
// trailing spaces removed, in dotted-decimal form. Network byte order.
std::optional<std::uint32_t> CallNameAddress(const os::UCHAR (&callName)[os::NCBNAMSZ]);

struct Written {
  os::UCHAR code;   // NRC_GOODRET, or NRC_INCOMP when not every name fitted
  os::WORD length;  // bytes written
};

// True when `length` bytes at `buffer` hold at least the ADAPTER_STATUS.
bool HoldsAdapterStatus(const os::UCHAR* buffer, os::WORD length);

// Writes `status` as ADAPTER_STATUS and NAME_BUFFER entries into the
// `length` bytes at `buffer`, as many entries as fit; NRC_BUFLEN and nothing
// written when not even the ADAPTER_STATUS fits.
Written WriteAdapterStatus(const NodeStatus& status, os::UCHAR* buffer, os::WORD length);

}  // namespace hostsweep::node_status
