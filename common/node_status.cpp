#include "common/node_status.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/byte_reader.h"
#include "common/node_status_wire.h"
#include "common/text.h"

namespace hostsweep::node_status {
namespace {

constexpr std::uint8_t kLabelTypeMask = 0xC0;
constexpr std::uint8_t kWorkstationSuffix = 0x00;

}  // namespace

using protocol::ByteReader;
using protocol::PutWord;
using protocol::WordAt;

std::optional<Header> ReadHeader(ByteReader& reader) {
  const auto id = reader.Word();
  const auto flags = reader.Word();
  const auto questions = reader.Word();
  const auto answers = reader.Word();
  if (!reader.Take(4)) {  // authority and additional counts: not used
    return std::nullopt;
  }
  return Header{*id, *flags, *questions, *answers};
}

std::optional<std::span<const std::uint8_t>> ReadName(ByteReader& reader) {
  const auto start = reader.Rest();
  std::size_t length = 0;
  for (bool first = true;; first = false) {
    const auto labelLength = reader.Byte();
    if (!labelLength) {
      return std::nullopt;
    }
    ++length;
    if (*labelLength == 0) {
      break;
    }
    // Compression pointers (and the reserved label types) are refused: a
    // node status name is never compressed.
    if ((*labelLength & kLabelTypeMask) != 0 || (first && *labelLength != kEncodedNameSize) ||
        !reader.Take(*labelLength)) {
      return std::nullopt;
    }
    length += *labelLength;
    if (length > kMaxNameLength) {
      return std::nullopt;
    }
  }
  return start.first(length);
}

std::vector<std::uint8_t> EncodeRequest(std::uint16_t transactionId) {
  std::vector<std::uint8_t> out;
  PutWord(out, transactionId);
  PutWord(out, 0);  // a query, sent to one host
  PutWord(out, 1);
  PutWord(out, 0);
  PutWord(out, 0);
  PutWord(out, 0);
  // "*" padded with zero bytes, each half byte written as 'A' + its value.
  out.push_back(kEncodedNameSize);
  std::array<std::uint8_t, kNetbiosNameSize> name{'*'};
  for (const std::uint8_t byte : name) {
    out.push_back(static_cast<std::uint8_t>('A' + (byte >> 4)));
    out.push_back(static_cast<std::uint8_t>('A' + (byte & 0x0F)));
  }
  out.push_back(0);
  PutWord(out, kNodeStatusType);
  PutWord(out, kInternetClass);
  return out;
}

std::optional<NodeStatus> ParseReply(std::span<const std::uint8_t> datagram,
                                     std::uint16_t transactionId) {
  ByteReader reader(datagram);
  const auto header = ReadHeader(reader);
  if (!header || header->transactionId != transactionId || (header->flags & kResponseFlag) == 0 ||
      (header->flags & kOpcodeMask) != 0 || (header->flags & kRcodeMask) != 0 ||
      header->questions != 0 || header->answers == 0) {
    return std::nullopt;
  }
  const auto name = ReadName(reader);
  const auto type = reader.Word();
  const auto recordClass = reader.Word();
  const auto timeToLive = reader.Take(4);
  const auto dataLength = reader.Word();
  if (!name || type != kNodeStatusType || recordClass != kInternetClass || !timeToLive ||
      !dataLength) {
    return std::nullopt;
  }
  const auto data = reader.Take(*dataLength);
  if (!data) {
    return std::nullopt;
  }
  ByteReader record(*data);
  const auto nameCount = record.Byte();
  if (!nameCount) {
    return std::nullopt;
  }
  const auto table = record.Take(*nameCount * kNameEntrySize);
  if (!table || record.Rest().size() < kUnitIdSize) {
    return std::nullopt;
  }
  NodeStatus status{};
  for (std::size_t offset = 0; offset < table->size(); offset += kNameEntrySize) {
    NameEntry entry{};
    std::copy_n(table->begin() + static_cast<std::ptrdiff_t>(offset), kNetbiosNameSize,
                entry.name.begin());
    entry.flags = WordAt(*table, offset + kNetbiosNameSize);
    status.names.push_back(entry);
  }
  const auto statistics = record.Rest().first(std::min(record.Rest().size(), kStatisticsSize));
  std::copy(statistics.begin(), statistics.end(), status.statistics.begin());
  return status;
}

HostNames NamesOf(const NodeStatus& status) {
  HostNames names;
  for (const auto& entry : status.names) {
    const bool group = (entry.flags & kGroupFlag) != 0;
    std::string& slot = group ? names.workgroup : names.workstation;
    if (entry.name.back() != kWorkstationSuffix || !slot.empty()) {
      continue;
    }
    const std::string name(entry.name.begin(), entry.name.end() - 1);
    slot = TrimEnd(name, std::string_view(" \0", 2));
  }
  return names;
}

}  // namespace hostsweep::node_status
