// What the link pass heard that no one host explains: an address that
// answered ARP from two MACs (an address conflict, or a spoofed reply), or a
// MAC that answered for more addresses than a host holds (proxy ARP, one
// host holding them all, or spoofed replies).
#pragma once

#include <cstddef>
#include <optional>

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

}  // namespace hostsweep::controller
