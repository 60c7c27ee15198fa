#include "platform/posix/node_status.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace hostsweep::node_status {
namespace {

constexpr std::size_t kNameEntrySize = kNetbiosNameSize + 2;
constexpr std::size_t kEncodedNameSize = 32;
constexpr std::size_t kMaxNameLength = 255;
constexpr std::uint16_t kNodeStatusType = 0x0021;
constexpr std::uint16_t kInternetClass = 0x0001;
constexpr std::uint16_t kResponseFlag = 0x8000;
constexpr std::uint16_t kOpcodeMask = 0x7800;
constexpr std::uint16_t kRcodeMask = 0x000F;
constexpr std::uint16_t kAuthoritativeFlag = 0x0400;
constexpr std::uint8_t kLabelTypeMask = 0xC0;

// Reads forward through a datagram; a read past its end fails and leaves the
// reader where it was.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::optional<std::span<const std::uint8_t>> Take(std::size_t count) {
    if (count > bytes_.size()) {
      return std::nullopt;
    }
    const auto taken = bytes_.first(count);
    bytes_ = bytes_.subspan(count);
    return taken;
  }
  std::optional<std::uint8_t> Byte() {
    const auto taken = Take(1);
    return taken ? std::optional<std::uint8_t>((*taken)[0]) : std::nullopt;
  }
  std::optional<std::uint16_t> Word() {
    const auto taken = Take(2);
    if (!taken) {
      return std::nullopt;
    }
    return static_cast<std::uint16_t>((*taken)[0] << 8 | (*taken)[1]);
  }
  [[nodiscard]] std::span<const std::uint8_t> Rest() const { return bytes_; }

 private:
  std::span<const std::uint8_t> bytes_;
};

struct Header {
  std::uint16_t transactionId;
  std::uint16_t flags;
  std::uint16_t questions;
  std::uint16_t answers;
};

std::optional<Header> ReadHeader(Reader& reader) {
  const auto id = reader.Word();
  const auto flags = reader.Word();
  const auto questions = reader.Word();
  const auto answers = reader.Word();
  if (!reader.Take(4)) {  // authority and additional counts: not used
    return std::nullopt;
  }
  return Header{*id, *flags, *questions, *answers};
}

// Walks an uncompressed name whose first label is an encoded NetBIOS name;
// the labels after it are the scope. Gives the whole name as sent.
std::optional<std::span<const std::uint8_t>> ReadName(Reader& reader) {
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

void PutWord(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

std::uint16_t WordAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

std::uint32_t DoubleWordAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(WordAt(bytes, offset)) << 16 | WordAt(bytes, offset + 2);
}

os::UCHAR NameFlags(std::uint16_t flags) {
  os::UCHAR state = os::REGISTERING;
  if ((flags & kDeregisteringFlag) != 0) {
    state = os::DEREGISTERED;
  } else if ((flags & kConflictFlag) != 0) {
    state = os::DUPLICATE;
  } else if ((flags & kActiveFlag) != 0) {
    state = os::REGISTERED;
  }
  return static_cast<os::UCHAR>(((flags & kGroupFlag) != 0 ? os::GROUP_NAME : 0) | state);
}

// The header of the adapter status block, from the reply's statistics.
os::ADAPTER_STATUS AdapterHeader(const NodeStatus& status, std::size_t nameCount) {
  const auto s = std::span(status.statistics);
  os::ADAPTER_STATUS header{};
  std::copy_n(s.begin(), kUnitIdSize, header.adapter_address);
  header.rev_major = s[8];
  header.rev_minor = s[9];
  header.duration = WordAt(s, 10);
  header.xmit_aborts = WordAt(s, 18);
  header.xmit_success = DoubleWordAt(s, 20);
  header.recv_success = DoubleWordAt(s, 24);
  header.iframe_xmit_err = WordAt(s, 28);
  header.recv_buff_unavail = WordAt(s, 30);
  header.free_ncbs = WordAt(s, 32);
  header.max_cfg_ncbs = WordAt(s, 34);
  header.max_ncbs = WordAt(s, 36);
  header.pending_sess = WordAt(s, 38);
  header.max_cfg_sess = WordAt(s, 40);
  header.max_sess = WordAt(s, 42);
  header.max_sess_pkt_size = WordAt(s, 44);
  header.name_count = static_cast<os::WORD>(nameCount);
  return header;
}

}  // namespace

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

std::optional<Request> ParseRequest(std::span<const std::uint8_t> datagram) {
  Reader reader(datagram);
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

std::optional<NodeStatus> ParseReply(std::span<const std::uint8_t> datagram,
                                     std::uint16_t transactionId) {
  Reader reader(datagram);
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
  Reader record(*data);
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

std::optional<std::uint32_t> CallNameAddress(const os::UCHAR (&callName)[os::NCBNAMSZ]) {
  std::string text(std::begin(callName), std::find(std::begin(callName), std::end(callName), 0));
  text.erase(text.find_last_not_of(' ') + 1);
  in_addr address{};
  if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
    return std::nullopt;
  }
  return address.s_addr;
}

bool HoldsAdapterStatus(const os::UCHAR* buffer, os::WORD length) {
  return buffer != nullptr && length >= sizeof(os::ADAPTER_STATUS);
}

Written WriteAdapterStatus(const NodeStatus& status, os::UCHAR* buffer, os::WORD length) {
  if (!HoldsAdapterStatus(buffer, length)) {
    return {os::NRC_BUFLEN, 0};
  }
  const std::size_t room = (length - sizeof(os::ADAPTER_STATUS)) / sizeof(os::NAME_BUFFER);
  const std::size_t count = std::min(room, status.names.size());
  const os::ADAPTER_STATUS header = AdapterHeader(status, count);
  std::memcpy(buffer, &header, sizeof header);
  os::UCHAR* next = buffer + sizeof header;
  for (std::size_t i = 0; i < count; ++i) {
    os::NAME_BUFFER entry{};
    std::copy(status.names[i].name.begin(), status.names[i].name.end(), entry.name);
    entry.name_num = static_cast<os::UCHAR>(i + 1);
    entry.name_flags = NameFlags(status.names[i].flags);
    std::memcpy(next, &entry, sizeof entry);
    next += sizeof entry;
  }
  return {count < status.names.size() ? os::NRC_INCOMP : os::NRC_GOODRET,
          static_cast<os::WORD>(next - buffer)};
}

}  // namespace hostsweep::node_status
