#include "common/mdns.h"

#include <algorithm>

#include "common/byte_reader.h"
#include "common/mdns_wire.h"

namespace hostsweep::mdns {
namespace {

using protocol::ByteReader;
using protocol::PutWord;

constexpr std::uint8_t kOffsetBits = 0x3F;
// Pointer hops while reading one name. A name holds at most 127 labels, and
// a hop that leads to no new label is never needed; without a count, hops
// cost nothing towards the 255 octets and a chain of them costs thousands of
// steps per name.
constexpr std::size_t kMostPointerHops = 127;
// Names read from one message (questions, owners, the target): an answer to
// our one question needs a handful, and a datagram of thousands of records
// that each end in a long chain must not cost more than a handful either.
constexpr std::size_t kMostNamesPerMessage = 16;

bool SameName(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

std::string JoinedLabels(const std::vector<std::string>& labels) {
  std::string text;
  for (const auto& label : labels) {
    text += text.empty() ? "" : ".";
    text += label;
  }
  return text;
}

std::optional<Labels> ReadLabels(std::span<const std::uint8_t> message, std::size_t offset) {
  std::vector<std::string> labels;
  std::size_t wireLength = 1;
  std::size_t hops = 0;
  std::optional<std::size_t> end;
  for (std::size_t at = offset; at < message.size();) {
    const std::uint8_t length = message[at];
    if ((length & kPointerBits) == kPointerBits) {
      if (at + 1 >= message.size() || ++hops > kMostPointerHops) {
        return std::nullopt;
      }
      const std::size_t target =
          static_cast<std::size_t>(length & kOffsetBits) << 8 | message[at + 1];
      end = end.value_or(at + 2);
      if (target >= at) {
        return std::nullopt;
      }
      at = target;
      continue;
    }
    if ((length & kPointerBits) != 0) {  // the reserved label types
      return std::nullopt;
    }
    if (length == 0) {
      return Labels{std::move(labels), end.value_or(at + 1)};
    }
    wireLength += length + 1U;
    if (wireLength > kMaxNameLength || at + 1 + length > message.size()) {
      return std::nullopt;
    }
    labels.emplace_back(message.begin() + static_cast<std::ptrdiff_t>(at + 1),
                        message.begin() + static_cast<std::ptrdiff_t>(at + 1 + length));
    at += 1 + length;
  }
  return std::nullopt;
}

std::optional<Name> ReadName(std::span<const std::uint8_t> message, std::size_t offset) {
  auto read = ReadLabels(message, offset);
  if (!read) {
    return std::nullopt;
  }
  return Name{JoinedLabels(read->labels), read->end};
}

std::optional<RecordHead> ReadRecordHead(std::span<const std::uint8_t> message,
                                         std::size_t offset) {
  auto owner = ReadLabels(message, offset);
  if (!owner) {
    return std::nullopt;
  }
  ByteReader reader(message.subspan(owner->end));
  const auto type = reader.Word();
  const auto recordClass = reader.Word();
  const auto timeToLive = reader.Take(4);
  const auto dataLength = reader.Word();
  if (!type || !recordClass || !timeToLive || !dataLength || !reader.Take(*dataLength)) {
    return std::nullopt;
  }
  const std::size_t dataStart = message.size() - reader.Rest().size() - *dataLength;
  return RecordHead{std::move(*owner), *type, *recordClass, dataStart, dataStart + *dataLength};
}

void PutLabels(std::vector<std::uint8_t>& out, const std::vector<std::string>& labels) {
  for (const auto& label : labels) {
    const auto piece = std::string_view(label).substr(0, kMaxLabelLength);
    if (piece.empty()) {  // would end the name
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(piece.size()));
    out.insert(out.end(), piece.begin(), piece.end());
  }
  out.push_back(0);
}

void PutName(std::vector<std::uint8_t>& out, std::string_view name) {
  while (!name.empty()) {
    const auto dot = name.find('.');
    std::string_view label = name.substr(0, dot);
    name.remove_prefix(dot == std::string_view::npos ? name.size() : dot + 1);
    while (!label.empty()) {
      const auto piece = label.substr(0, kMaxLabelLength);
      out.push_back(static_cast<std::uint8_t>(piece.size()));
      out.insert(out.end(), piece.begin(), piece.end());
      label.remove_prefix(piece.size());
    }
  }
  out.push_back(0);
}

void PutHeader(std::vector<std::uint8_t>& out, std::uint16_t id, std::uint16_t flags,
               std::uint16_t answers) {
  PutWord(out, id);
  PutWord(out, flags);
  PutWord(out, 1);
  PutWord(out, answers);
  PutWord(out, 0);
  PutWord(out, 0);
}

std::optional<Header> ReadHeader(std::span<const std::uint8_t> message) {
  ByteReader reader(message);
  const auto id = reader.Word();
  const auto flags = reader.Word();
  const auto questions = reader.Word();
  const auto answers = reader.Word();
  if (!reader.Take(4)) {
    return std::nullopt;
  }
  return Header{*id, *flags, *questions, *answers};
}

std::string ReverseName(std::uint32_t address) {
  std::string name;
  for (int shift = 0; shift < 32; shift += 8) {
    name += std::to_string(address >> shift & 0xFF) + ".";
  }
  return name + "in-addr.arpa";
}

std::vector<std::uint8_t> EncodePtrQuery(std::uint16_t id, std::string_view name) {
  std::vector<std::uint8_t> out;
  PutHeader(out, id, 0, 0);
  PutName(out, name);
  PutWord(out, kPtrType);
  PutWord(out, kClassTopBit | kInternetClass);
  return out;
}

std::optional<std::string> ParsePtrAnswer(std::span<const std::uint8_t> datagram, std::uint16_t id,
                                          std::string_view question) {
  const auto header = ReadHeader(datagram);
  if (!header || header->id != id || (header->flags & kResponseFlag) == 0 ||
      (header->flags & (kOpcodeMask | kRcodeMask)) != 0) {
    return std::nullopt;
  }
  // Each question and record is one name read (a matching record's target
  // ends the reading either way).
  if (header->questions > kMostNamesPerMessage) {
    return std::nullopt;
  }
  const std::size_t mostAnswers = kMostNamesPerMessage - header->questions;
  std::size_t offset = kHeaderSize;
  for (std::uint16_t i = 0; i < header->questions; ++i) {
    const auto name = ReadName(datagram, offset);
    if (!name || name->end + 4 > datagram.size()) {
      return std::nullopt;
    }
    offset = name->end + 4;
  }
  for (std::uint16_t i = 0; i < header->answers && i < mostAnswers; ++i) {
    const auto record = ReadRecordHead(datagram, offset);
    if (!record) {
      return std::nullopt;
    }
    offset = record->dataEnd;
    if (record->type != kPtrType || (record->recordClass & ~kClassTopBit) != kInternetClass ||
        !SameName(JoinedLabels(record->owner.labels), question)) {
      continue;
    }
    // The target must start inside the record; its pointers may reach back.
    auto target = ReadName(datagram.first(record->dataEnd), record->dataStart);
    if (target && target->end == record->dataEnd && !target->text.empty()) {
      return std::move(target->text);
    }
  }
  return std::nullopt;
}

}  // namespace hostsweep::mdns
