// A device heard on the link between sweeps, from a frame it sent of its own
// accord: an ARP request, reply or announcement, a DHCP client message, an
// mDNS announcement or an SSDP NOTIFY. Every frame is read defensively: the
// sender writes it, and anyone on the link may write one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "controller/base/address.h"
#include "controller/base/mac_address.h"
#include "controller/base/seen_by.h"

namespace hostsweep::controller {

struct Sighting {
  SeenBy seenBy = SeenBy::kPassiveArp;
  MacAddress mac{};
  // None: the frame names no address of the device's yet (a DHCP DISCOVER):
  // what it says is kept for when it does.
  std::optional<Address> address{};
  // The name it gives: DHCP option 12, or the owner of its own mDNS A record.
  std::string hostName{};
  std::string vendorClass{};                  // DHCP option 60
  std::vector<std::uint8_t> parameterList{};  // DHCP option 55
  bool operator==(const Sighting&) const = default;
};

// What `frame` (a whole Ethernet frame) says of its sender; nothing for any
// other frame, a malformed one, or one whose Ethernet source is not the
// device it speaks for.
std::optional<Sighting> DecodeSighting(std::span<const std::uint8_t> frame);

}  // namespace hostsweep::controller
