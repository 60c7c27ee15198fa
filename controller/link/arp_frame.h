// ARP over Ethernet, as the controller sends and reads it on a packet socket:
// whole frames, link header included, so that what is tested from captured
// bytes is exactly what goes on the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "controller/base/address.h"
#include "controller/base/mac_address.h"

namespace hostsweep::controller {

enum class ArpOperation : std::uint16_t { kRequest = 1, kReply = 2 };

struct ArpMessage {
  ArpOperation operation = ArpOperation::kRequest;
  MacAddress senderMac{};
  Address senderAddress = 0;
  MacAddress targetMac{};  // all zeros in a request: that is what it asks for
  Address targetAddress = 0;

  friend bool operator==(const ArpMessage&, const ArpMessage&) = default;
};

inline constexpr MacAddress kBroadcastMac{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

// 802.1Q VLAN IDs run from 1 to 4094; 0 stands for an untagged frame.
inline constexpr std::uint16_t kUntagged = 0;
inline constexpr std::uint16_t kHighestVlan = 4094;

// `message` in an Ethernet frame from its sender's MAC to `destination`,
// padded to Ethernet's 60-byte minimum; with a `vlan`, 802.1Q-tagged (priority
// 0) and padded to 64 bytes, so that a switch that takes the tag off still
// forwards a whole frame.
std::vector<std::uint8_t> EncodeArpFrame(const ArpMessage& message, const MacAddress& destination,
                                         std::uint16_t vlan = kUntagged);

// The request asking who has `target`, broadcast (on `vlan`, tagged).
std::vector<std::uint8_t> EncodeArpRequest(const MacAddress& ourMac, Address ourAddress,
                                           Address target, std::uint16_t vlan = kUntagged);

// The VLAN ID of the 802.1Q tag a frame still carries; kUntagged for none.
std::uint16_t VlanOf(std::span<const std::uint8_t> frame);

// An Ethernet frame holding an IPv4-over-Ethernet ARP message, tagged or not;
// nothing for any other frame, a short one, one whose sizes and types say
// otherwise, or one whose Ethernet source is not the sender MAC it names.
std::optional<ArpMessage> DecodeArpFrame(std::span<const std::uint8_t> frame);

// Whether `message` answers a request of ours for `asked`: a reply, from that
// address, to our address and MAC (0.0.0.0 where we ask without one, as a
// trunk port on a VLAN does: hosts answer such an address probe to 0.0.0.0). Gratuitous
// announcements (sender and target address the same) and replies meant for someone else do not
// count.
bool AnswersOurRequest(const ArpMessage& message, Address asked, const MacAddress& ourMac,
                       Address ourAddress);

}  // namespace hostsweep::controller
