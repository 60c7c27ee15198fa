// Whoever hears of the network besides standard output: the sinks whose
// events wait in the state database until delivered (--on-event, --webhook,
// --mqtt) and those shown each recorded sweep's state (--mqtt again,
// --metrics, --metrics-listen).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "controller/app/options.h"
#include "controller/events/event_sink.h"
#include "controller/events/sweep_report.h"
#include "controller/history/earlier_results.h"
#include "controller/inventory/inventory.h"

namespace hostsweep::controller {

struct Receivers {
  std::vector<std::unique_ptr<EventSink>> sinks;
  std::vector<std::unique_ptr<SweepObserver>> observersOnly;
  std::vector<SweepObserver*> observers;  // every one, sinks that observe too

  // Each sink's queue in the state database, by its name.
  [[nodiscard]] std::vector<std::string> QueueNames() const;
  [[nodiscard]] std::vector<EventSink*> Sinks() const;
};

// Every receiver the options name, built before any sweep: a URL, an
// address or a secret file they refuse ends the run before it starts
// (UsageError, SystemError).
Receivers MakeReceivers(const Options& options);

// What the observers are shown of every device the watch knows: the
// inventory's word on each, and whether one it expects always is missing.
std::vector<DeviceStatus> DeviceStatuses(const std::vector<KnownHost>& known,
                                         const Inventory* inventory, const VendorOf& vendorOf);

}  // namespace hostsweep::controller
