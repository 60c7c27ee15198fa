#include "controller/app/sweep_stages.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

#include "controller/base/errors.h"
#include "controller/base/time_text.h"
#include "controller/devices/device_stage.h"
#include "controller/leases/lease_stage.h"
#include "controller/link/link_layer.h"
#include "controller/link/vlan_links.h"
#include "controller/snmp/snmp_stage.h"
#include "controller/system/interfaces.h"
#include "controller/system/limits.h"
#include "controller/system/neighbour_table.h"

namespace hostsweep::controller {
namespace {

// Retries go to an address that has not answered half a second after its
// request (as arp-scan's first timeout); a last request is given up to a
// second more on a link whose hosts answer slowly (a Wi-Fi adapter dozing
// between beacons answers some 300 ms late), half a second where they answer
// at once.
constexpr std::chrono::milliseconds kArpRetryAfter{500};
constexpr std::chrono::milliseconds kArpLastWait{1000};
constexpr std::chrono::milliseconds kArpLastWaitFloor{500};

// The link pass over the addresses on a directly connected network, or
// nothing (the echo path for all), said with -v.
std::unique_ptr<ArpPass> PrepareLinkPass(const Options& options,
                                         const std::vector<Address>& addresses,
                                         const SweepMeans& means, EventLoop& loop) {
  if (!options.linkPass) {
    if (options.verbose && !options.namesOnly) {
      std::cerr << "hostsweep: --no-arp: every address takes the echo path\n";
    }
    return nullptr;
  }
  if (means.linkSocket == nullptr) {
    if (options.verbose) {
      std::cerr << "hostsweep: " << means.whyNoLinkSocket
                << "; every address takes the echo path\n";
    }
    return nullptr;
  }
  auto interfaces = means.linkSocket->Interfaces();
  if (!options.interfaceName.empty()) {
    std::erase_if(interfaces,
                  [&options](const LinkInterface& i) { return i.name != options.interfaceName; });
  }
  if (means.vlanLinks != nullptr) {
    interfaces = WithVlanLinks(std::move(interfaces), *means.vlanLinks);
  }
  const auto plan = PlanLinkPass(addresses, interfaces);
  if (options.verbose) {
    for (const auto& line : DescribeLinkPlan(interfaces, plan)) {
      std::cerr << "hostsweep: " << line << "\n";
    }
  }
  if (std::none_of(plan.begin(), plan.end(), [](const auto& via) { return via.has_value(); })) {
    return nullptr;
  }
  means.linkSocket->Listen();
  const LinkPassSettings settings{
      .rate = static_cast<double>(options.arpRate),
      .tries = options.arpTries,
      .retryAfter = kArpRetryAfter,
      .lastWait = kArpLastWait,
      .lastWaitFloor = kArpLastWaitFloor,
      .routed = [socket = means.linkSocket](Address address) { return socket->Routed(address); }};
  return std::make_unique<ArpPass>(addresses, std::move(interfaces), plan, *means.linkSocket,
                                   settings, loop);
}

// --ipv6's search on the interfaces that hold a swept network, said with -v.
std::optional<Ipv6Search> StartIpv6Search(const Options& options,
                                          const std::vector<Address>& addresses,
                                          Ipv6Prober* prober) {
  if (prober == nullptr) {
    return std::nullopt;
  }
  auto interfaces = InterfacesSwept(ReadInterfaceNetworks(), addresses);
  if (options.verbose) {
    for (const auto& name : interfaces) {
      std::cerr << "hostsweep: --ipv6: asking all IPv6 nodes on " << name << "\n";
    }
  }
  return std::optional<Ipv6Search>(std::in_place, *prober, std::move(interfaces), Ipv6Settings{},
                                   std::cerr);
}

// This machine's own addresses with their interfaces' MACs. Only the own
// row's MAC depends on it: an interface list the system refuses costs no more.
LinkLayerStage::OwnMacs ReadOwnMacs() {
  LinkLayerStage::OwnMacs own;
  try {
    for (const auto& network : ReadInterfaceNetworks()) {
      if (network.mac) {
        own.emplace(network.address, *network.mac);
      }
    }
  } catch (const SystemError&) {
    own.clear();
  }
  return own;
}

// The own addresses of the interfaces on whose networks swept addresses lie:
// where the UPnP search goes out. A list the system refuses searches nowhere.
std::vector<Address> SweptLinkAddresses(const std::vector<Address>& addresses) {
  std::vector<Address> local;
  try {
    for (const auto& network : ReadInterfaceNetworks()) {
      const Address mask = NetworkMask(network.prefixLength);
      const bool swept = std::any_of(addresses.begin(), addresses.end(), [&](Address a) {
        return (a & mask) == (network.address & mask);
      });
      if (swept && !network.peer &&
          std::find(local.begin(), local.end(), network.address) == local.end()) {
        local.push_back(network.address);
      }
    }
  } catch (const SystemError&) {
    local.clear();
  }
  return local;
}

}  // namespace

SweepStages::SweepStages(const Options& options, const std::vector<Address>& addresses,
                         const SweepMeans& means, EventLoop& loop)
    : namesOnly_(options.namesOnly),
      ipv6Search_(StartIpv6Search(options, addresses, means.ipv6Prober)),
      linkPass_(PrepareLinkPass(options, addresses, means, loop)) {
  const auto sweepBegan = std::chrono::steady_clock::now();
  if (!namesOnly_) {
    std::this_thread::sleep_for(NeighbourAgeGrain());
  }
  stages_.Add(std::make_unique<LinkLayerStage>(
      ReadNeighbourTable, std::cerr, options.verbose, linkPass_.get(), sweepBegan,
      namesOnly_ ? LinkLayerStage::OwnMacs{} : ReadOwnMacs(), ReadNeighbourTableOverflows));
  if (means.routers != nullptr) {
    // Read beside the sweep: a slow agent costs only what outlasts it.
    stages_.Add(std::make_unique<SnmpStage>(ReadBeside(*means.routers), std::cerr));
  }
  if (means.leases != nullptr) {
    means.leases->Refresh();
    stages_.Add(std::make_unique<LeaseStage>(*means.leases,
                                             EpochSeconds(std::chrono::system_clock::now())));
  }
  if (ipv6Search_) {
    stages_.Add(std::make_unique<Ipv6Stage>(
        [this](std::chrono::milliseconds wait) { return ipv6Search_->Neighbours(wait); }));
  }
  // A name-only sweep has its names already: it asks nothing more.
  if (namesOnly_) {
    return;
  }
  resolver_ = MakeResolver();
  const bool deviceTypes = means.deviceRules != nullptr;
  if (options.extraNames || deviceTypes) {
    network_ = MakeUdpNetwork();
  }
  // The device questions take a quarter of the name questions' sockets (one
  // per host, asked beside the names), their node status an eighth.
  const std::size_t sockets = MostNameSockets();
  const std::size_t deviceSockets = deviceTypes ? std::max<std::size_t>(sockets / 4, 1) : 0;
  const std::size_t nodeStatusSockets = deviceTypes ? std::max<std::size_t>(sockets / 8, 1) : 0;
  NameQueries* queries = nullptr;
  if (options.extraNames) {
    queries = &names_.emplace(
        *network_, std::max<std::size_t>(sockets - deviceSockets - nodeStatusSockets, 1));
  }
  stages_.Add(std::make_unique<NameStage>(*resolver_, queries));
  if (deviceTypes) {
    deviceNetwork_ = MakeDeviceNetwork();
    auto& upnp = upnp_.emplace(*deviceNetwork_, SweptLinkAddresses(addresses), addresses);
    // Node status for the hosts already named, from the name questions' own
    // share of sockets; with --no-extra-names, none.
    NameQueries* nodeStatus =
        options.extraNames ? &nodeStatus_.emplace(*network_, nodeStatusSockets) : nullptr;
    stages_.Add(std::make_unique<DeviceStage>(services_.emplace(*network_, deviceSockets), &upnp,
                                              nodeStatus, *means.deviceRules));
  }
}

std::size_t SweepStages::EchoPathCount(std::size_t addressCount) const {
  return addressCount - (linkPass_ ? linkPass_->CoveredCount() : 0);
}

std::vector<HostView> SweepStages::Ipv6OnlyRows(const ResultBook& book, const VendorOf& vendorOf) {
  return ipv6Search_ ? Ipv6OnlyViews(ipv6Search_->AllNeighbours(), book, vendorOf, std::cerr)
                     : std::vector<HostView>{};
}

}  // namespace hostsweep::controller
