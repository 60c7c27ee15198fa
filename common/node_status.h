// NetBIOS name service NODE STATUS messages (RFC 1002, 4.2.17 and 4.2.18):
// the request, a defensive reading of replies, and the names a reply gives.
// Replies come from whoever answers on the network, so every read is bounded
// by the datagram. Standard library only: the controller uses it on every
// platform.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

// The wildcard node status question for every name the host holds.
std::vector<std::uint8_t> EncodeRequest(std::uint16_t transactionId);

// The node status in `datagram` when it is a well-formed positive answer to
// the request with `transactionId`; nothing otherwise.
std::optional<NodeStatus> ParseReply(std::span<const std::uint8_t> datagram,
                                     std::uint16_t transactionId);

// The names a node status answer gives its host: the unique workstation
// name (suffix 0x00) and the workgroup (the group name with suffix 0x00), each
// with its padding removed; empty when the table has none.
struct HostNames {
  std::string workstation;
  std::string workgroup;
};
HostNames NamesOf(const NodeStatus& status);

}  // namespace hostsweep::node_status
