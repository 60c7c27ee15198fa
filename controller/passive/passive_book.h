// What the watch makes of the frames heard between sweeps. A frame is anyone's
// to write, so none invents a device on its own: an address that a present
// device holds, or another MAC claimed a moment ago, is a conflict, as the
// link pass finds them (LinkConflict), and a MAC that claims more addresses
// than a host holds is one too. A device is weighed once a while, however
// often it speaks, and every table is bounded, so that a flood of forged
// frames costs a bounded amount of memory and work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <variant>

#include "controller/base/link_conflict.h"
#include "controller/devices/device_rules.h"
#include "controller/model/seen_host.h"
#include "controller/passive/sighting.h"

namespace hostsweep::controller {

// How long a device that spoke is not weighed again, in seconds.
inline constexpr std::int64_t kQuietAfterSighting = 30;
// Conflicts said a minute at most: a flood of forged claims is not a flood
// of warnings.
inline constexpr int kMostConflictsPerMinute = 10;
// Devices (MACs) and addresses remembered; past this, the oldest are forgotten.
inline constexpr std::size_t kMostRemembered = 4096;

// The MAC a present host answers with at an address; nothing when none does.
using HolderOf = std::function<std::optional<MacAddress>(Address)>;

// Nothing to tell, a host seen, or a conflict to say once.
using PassiveVerdict = std::variant<std::monostate, SeenHost, LinkConflict>;

class PassiveBook {
 public:
  // `rules`: the device rules, which may read a DHCP vendor class
  // ("dhcp:vendorClass"); none: no type is given.
  explicit PassiveBook(const DeviceRules* rules = nullptr) : rules_(rules) {}
  // `sighting` heard at `now` (seconds): the host it shows, with the name and
  // vendor class its DHCP messages gave, or a conflict not said before.
  PassiveVerdict Weigh(const Sighting& sighting, const HolderOf& holderOf, std::int64_t now);
  // The host name `mac`'s DHCP messages last gave; empty when none did.
  [[nodiscard]] std::string DhcpNameOf(const MacAddress& mac) const;
  // Devices and addresses remembered, together.
  [[nodiscard]] std::size_t Remembered() const { return devices_.size() + claims_.size(); }

 private:
  struct Device {
    std::int64_t lastWeighed = 0;
    std::string hostName{};  // from its DHCP messages
    std::string vendorClass{};
    std::set<Address> addresses{};  // claimed lately, up to one more than a host holds
  };
  struct Claim {
    MacAddress mac{};
    std::int64_t when = 0;
  };

  std::optional<LinkConflict> ConflictOf(const Sighting& sighting, Address address,
                                         const HolderOf& holderOf, std::int64_t now);
  // True the first time `conflict` is met, while this minute's are not used up.
  bool FirstTime(const LinkConflict& conflict, std::int64_t now);
  void Forget(std::int64_t now);

  const DeviceRules* rules_;
  std::map<MacAddress, Device> devices_;
  std::map<Address, Claim> claims_;
  std::set<std::string> said_;
  std::int64_t minute_ = 0;
  int saidThisMinute_ = 0;
};

}  // namespace hostsweep::controller
