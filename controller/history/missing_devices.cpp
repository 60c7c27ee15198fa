#include "controller/history/missing_devices.h"

#include <algorithm>
#include <set>

namespace hostsweep::controller {
namespace {

// Where the device is looked for, if anywhere.
std::optional<SeenHost> PlaceOf(const KnownDevice& device, const std::vector<SeenHost>& earlier) {
  SeenHost place{.mac = device.mac};
  if (SetRowAddress(place, device.address)) {
    return place;
  }
  // Where a host this row is was seen: a MAC that named none of the hosts
  // that shared it says nowhere.
  const auto seen = std::find_if(earlier.begin(), earlier.end(), [&](const SeenHost& host) {
    return OwnMac(host) && OwnMac(host) == device.mac;
  });
  if (seen == earlier.end()) {
    return std::nullopt;
  }
  place.address = seen->address;
  place.ipv6 = seen->ipv6;
  return place;
}

}  // namespace

const KnownDevice* DeviceOf(const Inventory* inventory, const SeenHost& host) {
  return inventory != nullptr ? inventory->Find(host) : nullptr;
}

KnownFacts FactsOf(const Inventory* inventory, const SeenHost& host) {
  const KnownDevice* device = DeviceOf(inventory, host);
  return device != nullptr ? device->facts : KnownFacts{};
}

bool Ignored(const Inventory* inventory, const SeenHost& host) {
  const KnownDevice* device = DeviceOf(inventory, host);
  return device != nullptr && device->facts.expect == Expect::kIgnore;
}

std::vector<MissingDevice> MissingDevices(const Inventory& inventory,
                                          const std::vector<SeenHost>& found,
                                          const SweepScope& swept,
                                          const std::vector<SeenHost>& earlier) {
  std::set<const KnownDevice*> present;
  for (const SeenHost& host : found) {
    present.insert(inventory.Find(host));
  }
  std::vector<MissingDevice> missing;
  for (const KnownDevice& device : inventory.Devices()) {
    if (device.facts.expect != Expect::kAlways || present.contains(&device)) {
      continue;
    }
    if (const auto place = PlaceOf(device, earlier); place && swept.Covers(*place)) {
      missing.push_back({&device, *place});
    }
  }
  return missing;
}

}  // namespace hostsweep::controller
