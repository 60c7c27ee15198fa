#include "platform/posix/adapter_status.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "common/byte_reader.h"
#include "common/text.h"

namespace hostsweep::node_status {
namespace {

using protocol::WordAt;

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

std::optional<std::uint32_t> CallNameAddress(const os::UCHAR (&callName)[os::NCBNAMSZ]) {
  std::string text(std::begin(callName), std::find(std::begin(callName), std::end(callName), 0));
  text = TrimEnd(text, " ");
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
