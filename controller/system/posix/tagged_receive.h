// A frame read from a packet socket with PACKET_AUXDATA on, with the 802.1Q
// tag the kernel took off it as it came in: the link pass's socket and the
// lab's trunk switch read the same way.
#pragma once

#include <linux/if_packet.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace hostsweep::controller {

struct TaggedReceipt {
  std::size_t size = 0;  // bytes of the frame in the buffer
  sockaddr_ll from{};
  std::uint16_t strippedVlan = 0;  // the VLAN ID of the tag taken off; 0 for none
};

// The next frame on packet socket `fd` into `buffer`; nothing when none is
// read (recvmsg's `flags`: MSG_DONTWAIT and none waits, an error).
std::optional<TaggedReceipt> ReceiveTagged(int fd, std::span<std::uint8_t> buffer, int flags);

}  // namespace hostsweep::controller
