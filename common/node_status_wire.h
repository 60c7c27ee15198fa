// The layout of a node status message as both sides of the exchange read
// and write it: the header, the question or answer name, the fields' values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/byte_reader.h"
#include "common/node_status.h"

namespace hostsweep::node_status {

inline constexpr std::size_t kNameEntrySize = kNetbiosNameSize + 2;
inline constexpr std::size_t kEncodedNameSize = 32;
inline constexpr std::size_t kMaxNameLength = 255;
inline constexpr std::uint16_t kNodeStatusType = 0x0021;
inline constexpr std::uint16_t kInternetClass = 0x0001;
inline constexpr std::uint16_t kResponseFlag = 0x8000;
inline constexpr std::uint16_t kOpcodeMask = 0x7800;
inline constexpr std::uint16_t kRcodeMask = 0x000F;

struct Header {
  std::uint16_t transactionId;
  std::uint16_t flags;
  std::uint16_t questions;
  std::uint16_t answers;
};

std::optional<Header> ReadHeader(protocol::ByteReader& reader);

// Walks an uncompressed name whose first label is an encoded NetBIOS name;
// the labels after it are the scope. Gives the whole name as sent.
std::optional<std::span<const std::uint8_t>> ReadName(protocol::ByteReader& reader);

}  // namespace hostsweep::node_status
