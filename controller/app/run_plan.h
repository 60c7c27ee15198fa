// What a run is made of, built from the options in one place before any
// sweep, so that each way of running (one sweep, --compare, a --state
// sweep, --watch) is a short function over it: the targets, what the
// sources read once, the makers' registries, the inventory, and for a watch
// or a --state sweep the receivers, the state database and the dashboard.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controller/app/event_receivers.h"
#include "controller/app/options.h"
#include "controller/app/run.h"
#include "controller/app/sources.h"
#include "controller/base/address.h"
#include "controller/base/results.h"
#include "controller/devices/device_rules.h"
#include "controller/history/earlier_results.h"
#include "controller/inventory/inventory.h"
#include "controller/inventory/known_file.h"
#include "controller/leases/lease_files.h"
#include "controller/link/vendors.h"
#include "controller/link/vlan_links.h"
#include "controller/output/output_channel.h"
#include "controller/output/sweep_run.h"
#include "controller/passive/passive_socket.h"
#include "controller/snmp/router_tables.h"
#include "controller/state/state_store.h"
#include "controller/system/event_loop.h"
#include "controller/web/dashboard.h"

namespace hostsweep::controller {

// What the sources read once however many sweeps there are: the device
// rules, the DHCP lease files, the routers to ask, the VLANs' trunk ports.
struct ReadOnce {
  explicit ReadOnce(const Options& options);
  SweepMeans MeansWith(const OpenedMeans& means);

  std::optional<DeviceRules> deviceRules;
  std::optional<LeaseFiles> leases{};
  std::optional<RouterTables> routers{};
  std::vector<LinkInterface> vlanLinks;
};

// Built in the order the run has always read its parts, so that the first
// refusal is the one the user has always seen. Throws UsageError,
// SystemError and EarlierResultsError.
struct RunPlan {
  RunPlan(const Options& options, const Invocation& invocation, OutputChannel& output,
          OutputChannel& errors, OpenedMeans& opened);
  RunPlan(const RunPlan&) = delete;
  RunPlan& operator=(const RunPlan&) = delete;
  RunPlan(RunPlan&&) = delete;
  RunPlan& operator=(RunPlan&&) = delete;
  ~RunPlan() = default;

  // Between a watch's sweeps: the --known file read again when it changed
  // (the dashboard's edits, the user's own); a faulty one is said, and the
  // inventory read before it kept.
  void ReadKnownAgain();

  const Options& options;
  OutputChannel& output;
  OutputChannel& errors;
  const std::vector<Address> addresses;
  const std::optional<EarlierSweep> earlier;  // --compare
  std::optional<KnownFile> knownFile;         // --known
  std::optional<Inventory> knownRead;
  const Inventory* inventory;  // the inventory as last read; null without --known
  const SweepRun run;
  ReadOnce readOnce;
  const SweepMeans means;
  LazyVendorRegistry vendors;  // the makers' registries, read once for every sweep
  const VendorOf vendorOf;
  EventLoop loop;          // the controller's one loop, every sweep's and the waits between
  PassiveSocket* passive;  // what a watch hears between sweeps; none where it cannot
  std::string_view whyNoPassive;
  // A watch's or a --state sweep's alone: the others tell nobody.
  Receivers receivers;
  std::unique_ptr<StateStore> store;         // --state, opened and locked before any sweep
  std::unique_ptr<SweepObserver> dashboard;  // --web beside a watch
};

DashboardSettings DashboardSettingsOf(const Options& options);

// What `read` makes of the file an option names; none where it names none.
template <typename Read>
auto ReadIfNamed(const std::string& path, Read read) -> std::optional<decltype(read(path))> {
  if (path.empty()) {
    return std::nullopt;
  }
  return read(path);
}

}  // namespace hostsweep::controller
