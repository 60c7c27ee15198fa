// What the link pass heard that no one host explains: an address that
// answered ARP from two MACs (an address conflict, or a spoofed reply), or a
// MAC that answered for more addresses than a host holds (proxy ARP, one
// host holding them all, or spoofed replies).
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>

#include "controller/base/address.h"
#include "controller/base/mac_address.h"

namespace hostsweep::controller {

struct LinkConflict {
  // Two MACs answered for it: `mac` first, then `otherMac`. None: `mac`
  // answered for `addresses` addresses.
  std::optional<Address> address{};
  MacAddress mac{};
  std::optional<MacAddress> otherMac{};
  std::size_t addresses = 0;
  bool operator==(const LinkConflict&) const = default;
};

// What tells one conflict from another: an address answering from the same
// two MACs is the same conflict whichever answered first; a MAC shared by
// more or fewer addresses is the same too.
inline std::string ConflictKey(const LinkConflict& conflict) {
  if (!conflict.address || !conflict.otherMac) {
    return FormatMac(conflict.mac);
  }
  const auto [low, high] = std::minmax(conflict.mac, *conflict.otherMac);
  return FormatAddress(*conflict.address) + " " + FormatMac(low) + " " + FormatMac(high);
}

}  // namespace hostsweep::controller
