// The devices the inventory (--known) expects always that a sweep did not
// find where it looked for them, and the inventory's word on a host a
// comparison would call changed.
#pragma once

#include <vector>

#include "controller/history/sweep_diff.h"
#include "controller/inventory/inventory.h"

namespace hostsweep::controller {

// The inventory's device that `host` is; null when it knows none.
const KnownDevice* DeviceOf(const Inventory* inventory, const SeenHost& host);

// What the inventory says of `host`: `known` false for a device it does not
// know, or without an inventory.
KnownFacts FactsOf(const Inventory* inventory, const SeenHost& host);

// Whether the inventory says a change of `host` is never to be told.
bool Ignored(const Inventory* inventory, const SeenHost& host);

struct MissingDevice {
  const KnownDevice* device;
  SeenHost place;  // where it was looked for, with its MAC from the inventory
};

// Each device expected always that no host in `found` is, whose place the
// sweep covered: its address in the inventory, else (a row keyed by MAC
// alone) the address where `earlier` saw that MAC. A MAC never seen and
// given no address has no place: nothing says the sweep looked for it.
std::vector<MissingDevice> MissingDevices(const Inventory& inventory,
                                          const std::vector<SeenHost>& found,
                                          const SweepScope& swept,
                                          const std::vector<SeenHost>& earlier);

}  // namespace hostsweep::controller
