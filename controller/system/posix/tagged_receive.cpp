#include "controller/system/posix/tagged_receive.h"

#include <sys/socket.h>

#include <array>
#include <cstring>

namespace hostsweep::controller {
namespace {

constexpr std::uint16_t kVlanIdBits = 0x0fff;

}  // namespace

std::optional<TaggedReceipt> ReceiveTagged(int fd, std::span<std::uint8_t> buffer, int flags) {
  TaggedReceipt receipt;
  iovec data{.iov_base = buffer.data(), .iov_len = buffer.size()};
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(tpacket_auxdata))> control{};
  msghdr message{.msg_name = &receipt.from,
                 .msg_namelen = sizeof(receipt.from),
                 .msg_iov = &data,
                 .msg_iovlen = 1,
                 .msg_control = control.data(),
                 .msg_controllen = control.size(),
                 .msg_flags = 0};
  const ssize_t received = recvmsg(fd, &message, flags);
  if (received < 0) {
    return std::nullopt;
  }
  receipt.size = static_cast<std::size_t>(received);
  for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr;
       item = CMSG_NXTHDR(&message, item)) {
    if (item->cmsg_level != SOL_PACKET || item->cmsg_type != PACKET_AUXDATA) {
      continue;
    }
    tpacket_auxdata aux{};
    std::memcpy(&aux, CMSG_DATA(item), sizeof(aux));
    if ((aux.tp_status & TP_STATUS_VLAN_VALID) != 0) {
      receipt.strippedVlan = aux.tp_vlan_tci & kVlanIdBits;
    }
  }
  return receipt;
}

}  // namespace hostsweep::controller
