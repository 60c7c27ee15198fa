#include "tests/tools/mdns_answer.h"

#include "common/byte_reader.h"
#include "common/mdns_wire.h"

namespace hostsweep::mdns {

using protocol::ByteReader;
using protocol::PutWord;

namespace {

constexpr std::uint16_t kAuthoritativeFlag = 0x0400;
// RFC 6762 6.7: records in a legacy unicast answer live no longer than this.
constexpr std::uint16_t kLegacyTimeToLive = 10;

}  // namespace

std::optional<Query> ParsePtrQuery(std::span<const std::uint8_t> datagram) {
  const auto header = ReadHeader(datagram);
  if (!header || (header->flags & (kResponseFlag | kOpcodeMask)) != 0 || header->questions == 0) {
    return std::nullopt;
  }
  auto name = ReadName(datagram, kHeaderSize);
  if (!name) {
    return std::nullopt;
  }
  ByteReader reader(datagram.subspan(name->end));
  const auto type = reader.Word();
  const auto questionClass = reader.Word();
  if (type != kPtrType || !questionClass || (*questionClass & ~kClassTopBit) != kInternetClass) {
    return std::nullopt;
  }
  return Query{header->id, std::move(name->text)};
}

std::vector<std::uint8_t> EncodePtrAnswer(const Query& query, std::string_view target) {
  std::vector<std::uint8_t> out;
  PutHeader(out, query.id, kResponseFlag | kAuthoritativeFlag, 1);
  PutName(out, query.name);
  PutWord(out, kPtrType);
  PutWord(out, kInternetClass);
  // The record's owner points back at the question's name.
  PutWord(out, static_cast<std::uint16_t>(kPointerBits << 8 | kHeaderSize));
  PutWord(out, kPtrType);
  PutWord(out, kInternetClass);
  PutWord(out, 0);
  PutWord(out, kLegacyTimeToLive);
  std::vector<std::uint8_t> data;
  PutName(data, target);
  PutWord(out, static_cast<std::uint16_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

}  // namespace hostsweep::mdns
