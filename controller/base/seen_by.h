// What a device was last seen by: a sweep's echo or ARP answer, or a frame
// it sent of its own accord between sweeps.
#pragma once

#include <array>
#include <string_view>

#include "controller/base/enum_text.h"

namespace hostsweep::controller {

enum class SeenBy { kEcho, kArp, kPassiveArp, kDhcp, kMdns, kSsdp };

inline constexpr std::array<EnumText<SeenBy>, 6> kSeenByTexts{{{SeenBy::kEcho, "echo"},
                                                               {SeenBy::kArp, "arp"},
                                                               {SeenBy::kPassiveArp, "passive-arp"},
                                                               {SeenBy::kDhcp, "dhcp"},
                                                               {SeenBy::kMdns, "mdns"},
                                                               {SeenBy::kSsdp, "ssdp"}}};
constexpr std::string_view SeenByText(SeenBy seenBy) { return TextOf(kSeenByTexts, seenBy); }

// A frame the device sent of its own accord, not an answer to a sweep.
constexpr bool HeardUnasked(SeenBy seenBy) {
  return seenBy != SeenBy::kEcho && seenBy != SeenBy::kArp;
}

}  // namespace hostsweep::controller
