#include "tests/tools/node_status_answer.h"

#include <algorithm>

#include "common/byte_reader.h"
#include "common/node_status_wire.h"

namespace hostsweep::node_status {

using protocol::ByteReader;
using protocol::PutWord;

namespace {

constexpr std::uint16_t kAuthoritativeFlag = 0x0400;

}  // namespace

std::optional<Request> ParseRequest(std::span<const std::uint8_t> datagram) {
  ByteReader reader(datagram);
  const auto header = ReadHeader(reader);
  if (!header || (header->flags & (kResponseFlag | kOpcodeMask)) != 0 || header->questions != 1) {
    return std::nullopt;
  }
  const auto name = ReadName(reader);
  const auto type = reader.Word();
  const auto questionClass = reader.Word();
  if (!name || type != kNodeStatusType || questionClass != kInternetClass) {
    return std::nullopt;
  }
  return Request{header->transactionId, {name->begin(), name->end()}};
}

std::vector<std::uint8_t> EncodeReply(const Request& request, const NodeStatus& status,
                                      const std::vector<std::string>& scope) {
  std::vector<std::uint8_t> out;
  PutWord(out, request.transactionId);
  PutWord(out, kResponseFlag | kAuthoritativeFlag);
  PutWord(out, 0);
  PutWord(out, 1);
  PutWord(out, 0);
  PutWord(out, 0);
  // The question's first label, then `scope` in place of whatever followed it.
  const auto firstLabel = std::span(request.questionName)
                              .first(std::min(request.questionName.size(), kEncodedNameSize + 1));
  out.insert(out.end(), firstLabel.begin(), firstLabel.end());
  for (const auto& label : scope) {
    out.push_back(static_cast<std::uint8_t>(label.size()));
    out.insert(out.end(), label.begin(), label.end());
  }
  out.push_back(0);
  PutWord(out, kNodeStatusType);
  PutWord(out, kInternetClass);
  PutWord(out, 0);  // time to live
  PutWord(out, 0);
  const std::size_t names = std::min<std::size_t>(status.names.size(), 0xFF);
  PutWord(out, static_cast<std::uint16_t>(1 + names * kNameEntrySize + kStatisticsSize));
  out.push_back(static_cast<std::uint8_t>(names));
  for (std::size_t i = 0; i < names; ++i) {
    out.insert(out.end(), status.names[i].name.begin(), status.names[i].name.end());
    PutWord(out, status.names[i].flags);
  }
  out.insert(out.end(), status.statistics.begin(), status.statistics.end());
  return out;
}

}  // namespace hostsweep::node_status
