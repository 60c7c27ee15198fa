#include "controller/devices/dns_sd_message.h"

#include <algorithm>

#include "common/byte_reader.h"
#include "common/mdns_wire.h"
#include "controller/devices/ascii_text.h"

namespace hostsweep::controller {
namespace {

using protocol::ByteReader;
using protocol::PutWord;
using protocol::WordAt;

// A question's name and its type and class.
constexpr std::size_t kQuestionTail = 4;
// Questions an answer may echo: we ask one, and each costs a name's reading.
constexpr std::size_t kMostQuestions = 4;
// Where the authority and additional counts sit in the header.
constexpr std::size_t kAuthorityCountAt = 8;
constexpr std::size_t kAdditionalCountAt = 10;

std::vector<std::string> TextStrings(std::span<const std::uint8_t> data) {
  std::vector<std::string> strings;
  ByteReader reader(data);
  while (strings.size() < kMostTextStrings) {
    const auto length = reader.Byte();
    const auto bytes = length ? reader.Take(*length) : std::nullopt;
    if (!bytes) {
      break;
    }
    if (!bytes->empty()) {
      strings.emplace_back(bytes->begin(), bytes->end());
    }
  }
  return strings;
}

// The record at `offset`, its end in `end`; nothing when it is malformed.
std::optional<DnsSdRecord> ReadRecord(std::span<const std::uint8_t> message, std::size_t& end) {
  auto head = mdns::ReadRecordHead(message, end);
  if (!head) {
    return std::nullopt;
  }
  end = head->dataEnd;
  DnsSdRecord record{.owner = std::move(head->owner.labels), .type = head->type};
  if ((head->recordClass & ~mdns::kClassTopBit) != mdns::kInternetClass) {
    record.type = 0;  // read past, never believed
  } else if (head->type == kPtrRecord) {
    // The target starts inside the record; its pointers may reach back.
    auto target = mdns::ReadLabels(message.first(end), head->dataStart);
    if (!target || target->end != end) {
      return std::nullopt;
    }
    record.target = std::move(target->labels);
  } else if (head->type == kTxtRecord) {
    record.text = TextStrings(message.subspan(head->dataStart, end - head->dataStart));
  } else if (head->type == kAddressRecord) {
    if (end - head->dataStart != 4) {
      return std::nullopt;
    }
    record.address = (Address{message[head->dataStart]} << 24) |
                     (Address{message[head->dataStart + 1]} << 16) |
                     (Address{message[head->dataStart + 2]} << 8) | message[head->dataStart + 3];
  }
  return record;
}

}  // namespace

DnsName ServiceTypesName() { return {"_services", "_dns-sd", "_udp", "local"}; }

bool SameName(const DnsName& a, const DnsName& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const auto& x, const auto& y) { return SameText(x, y); });
}

std::vector<std::uint8_t> EncodeQuestion(std::uint16_t id, const DnsName& name,
                                         std::uint16_t type) {
  std::vector<std::uint8_t> out;
  mdns::PutHeader(out, id, 0, 0);
  mdns::PutLabels(out, name);
  PutWord(out, type);
  PutWord(out, mdns::kClassTopBit | mdns::kInternetClass);
  return out;
}

std::optional<std::vector<DnsSdRecord>> ParseDnsSdAnswer(std::span<const std::uint8_t> datagram,
                                                         std::uint16_t id) {
  const auto header = mdns::ReadHeader(datagram);
  if (!header || header->id != id || (header->flags & mdns::kResponseFlag) == 0 ||
      (header->flags & (mdns::kOpcodeMask | mdns::kRcodeMask)) != 0 ||
      header->questions > kMostQuestions) {
    return std::nullopt;
  }
  std::size_t offset = mdns::kHeaderSize;
  for (std::uint16_t i = 0; i < header->questions; ++i) {
    const auto name = mdns::ReadLabels(datagram, offset);
    if (!name || name->end + kQuestionTail > datagram.size()) {
      return std::nullopt;
    }
    offset = name->end + kQuestionTail;
  }
  const std::size_t recordCount = std::size_t{header->answers} +
                                  WordAt(datagram, kAuthorityCountAt) +
                                  WordAt(datagram, kAdditionalCountAt);
  std::vector<DnsSdRecord> records;
  for (std::size_t i = 0; i < std::min(recordCount, kMostRecordsPerAnswer); ++i) {
    auto record = ReadRecord(datagram, offset);
    if (!record) {
      return std::nullopt;
    }
    if (record->type == kPtrRecord || record->type == kTxtRecord ||
        record->type == kAddressRecord) {
      records.push_back(std::move(*record));
    }
  }
  return records;
}

}  // namespace hostsweep::controller
