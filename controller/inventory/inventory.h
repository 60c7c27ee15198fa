// The user's inventory of the devices they know (--known): a CSV file with a
// header line, mac,address,alias,owner,expect,note (and any columns of the
// user's own after them, of which away_after, a duration such as 20m, is
// how long the device may go unseen before a watch calls it gone), one
// device a row. A row
// is the device with its MAC where it gives one, else the host at its
// address. Each row found on a host gives that host's row its alias and
// owner; what the device is expected to do (always there, or ignored) shapes
// what a comparison calls a change.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "controller/base/results.h"
#include "controller/model/seen_host.h"

namespace hostsweep::controller {

struct KnownDevice {
  // The key where it is a real MAC, randomised ones too: the user's word for
  // the host that answers with it.
  std::optional<MacAddress> mac{};
  std::string address{};  // IPv4 or IPv6 as rows write it; the key without a MAC
  KnownFacts facts{};     // `known` always true
  std::string note{};
};

class Inventory {
 public:
  explicit Inventory(std::vector<KnownDevice> devices);

  // The device the host is: the row with the MAC it answered with (OwnMac),
  // else the row keyed by one of its addresses (KeysOf); null for a device
  // the inventory does not know.
  [[nodiscard]] const KnownDevice* Find(const SeenHost& host) const;
  // The facts a row of `view` shows: `known` false for an unknown device.
  [[nodiscard]] KnownFacts FactsOf(const HostView& view) const;
  [[nodiscard]] const std::vector<KnownDevice>& Devices() const { return devices_; }

 private:
  std::vector<KnownDevice> devices_;
  // Every row is looked up for each address swept: a /16 against thousands
  // of devices would otherwise compare billions of times.
  std::map<MacAddress, std::size_t> byMac_;
  std::unordered_map<std::string, std::size_t> byAddress_;  // the rows without a device MAC
};

// The file's text as an inventory; a fault throws UsageError saying
// "LINE: what" (the row's first line, numbered from 1, the header's included,
// each line break in a quoted field counted).
Inventory ParseInventory(std::string_view text);

// The file's bytes as they are, bounded in size: a missing, unreadable or
// oversized file throws UsageError naming it.
std::string ReadKnownText(const std::string& path);

// The file at `path`, bounded in size: a missing, unreadable, oversized or
// faulty file throws UsageError naming it ("--known PATH:7: bad MAC ...").
Inventory ReadInventory(const std::string& path);

}  // namespace hostsweep::controller
