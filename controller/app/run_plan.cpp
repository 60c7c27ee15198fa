#include "controller/app/run_plan.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <utility>

#include "controller/app/addresses.h"
#include "controller/base/errors.h"
#include "controller/devices/device_rules.h"
#include "controller/link/vlan_links.h"
#include "controller/notify/secret_option.h"
#include "controller/snmp/snmp_auth.h"
#include "controller/system/files.h"
#include "controller/system/link_socket.h"

namespace hostsweep::controller {
namespace {

// HOSTSWEEP_IEEE_DATA points elsewhere, for registries kept apart from the
// system's (another distribution's place, a fresher download).
std::filesystem::path VendorRegistries() {
  const char* registries = std::getenv("HOSTSWEEP_IEEE_DATA");
  return registries != nullptr ? registries : VendorRegistryFolder();
}

// Only a watch listens between sweeps.
PassiveSocket* PassiveFor(const Options& options, OpenedMeans& opened) {
  if (!options.watchInterval) {
    opened.passiveSocket.reset();
  }
  return opened.passiveSocket.get();
}

Receivers ReceiversFor(const Options& options) {
  if (!options.watchInterval && options.stateFile.empty()) {
    return {};
  }
  return MakeReceivers(options);
}

// With a queue for each of `receivers`' sinks.
std::unique_ptr<StateStore> OpenState(const Options& options, const VendorOf& vendorOf,
                                      const Receivers& receivers) {
  if (options.stateFile.empty()) {
    return nullptr;
  }
  return OpenStateStore(options.stateFile, options.goneAfter, vendorOf, receivers.QueueNames());
}

// Started once the state database is there to read, and shown each recorded
// sweep as the other observers are (/metrics).
std::unique_ptr<SweepObserver> DashboardFor(const Options& options, Receivers& receivers) {
  if (options.web.empty()) {
    return nullptr;
  }
  auto dashboard = StartDashboard(DashboardSettingsOf(options));
  receivers.observers.push_back(dashboard.get());
  return dashboard;
}

}  // namespace

ReadOnce::ReadOnce(const Options& options)
    : deviceRules(options.deviceTypes ? ReadDeviceRules(DeviceRulesFile(), std::cerr)
                                      : std::optional<DeviceRules>{}),
      // An unknown trunk port (or Windows, which tags nothing) is a usage
      // error before any sweep.
      vlanLinks(VlanInterfaces(options.vlans, options.interfaceName, TrunkPort)) {
  if (!options.leaseFiles.empty()) {
    leases.emplace(options.leaseFiles, std::cerr);
  }
  if (!options.snmpAgents.empty()) {
    routers.emplace(options.snmpAgents, options.snmpAuth.empty()
                                            ? SnmpAuth{}
                                            : ParseSnmpAuth(SecretOption(options.snmpAuth)));
  }
}

SweepMeans ReadOnce::MeansWith(const OpenedMeans& means) {
  return {means.linkSocket.get(),
          means.whyNoLinkSocket,
          means.ipv6Prober.get(),
          deviceRules ? &*deviceRules : nullptr,
          leases ? &*leases : nullptr,
          routers ? &*routers : nullptr,
          &vlanLinks};
}

RunPlan::RunPlan(const Options& options, const Invocation& invocation, OutputChannel& output,
                 OutputChannel& errors, OpenedMeans& opened)
    : options(options),
      output(output),
      errors(errors),
      addresses(CollectAddresses(options, invocation.inputClosed)),
      earlier(ReadIfNamed(options.compareFile, ReadEarlierSweep)),
      knownFile(
          ReadIfNamed(options.knownFile, [](const std::string& path) { return KnownFile(path); })),
      // The first read always reads: --known is there from the first sweep.
      knownRead(knownFile ? knownFile->Changed() : std::nullopt),
      inventory(knownRead ? &*knownRead : nullptr),
      run{.commandLine = invocation.commandLine,
          .start = std::chrono::system_clock::now(),
          .addressCount = addresses.size()},
      readOnce(options),
      means(readOnce.MeansWith(opened)),
      vendors(VendorRegistries(), std::cerr),
      vendorOf([this](const MacAddress& mac) { return vendors.VendorOf(mac); }),
      passive(PassiveFor(options, opened)),
      whyNoPassive(opened.whyNoPassive),
      receivers(ReceiversFor(options)),
      store(OpenState(options, vendorOf, receivers)),
      dashboard(DashboardFor(options, receivers)) {}

void RunPlan::ReadKnownAgain() {
  try {
    if (auto fresh = knownFile ? knownFile->Changed() : std::nullopt) {
      *knownRead = std::move(*fresh);
    }
  } catch (const UsageError& fault) {
    std::cerr << "hostsweep: " << fault.what() << "; the inventory read before is kept\n";
  }
}

DashboardSettings DashboardSettingsOf(const Options& options) {
  return {.address = options.web,
          .password = options.webPassword,
          .certificate = options.webCertificate,
          .key = options.webKey,
          .stateFile = options.stateFile,
          .knownFile = options.knownFile,
          .watch = options.watchInterval.has_value()};
}

}  // namespace hostsweep::controller
