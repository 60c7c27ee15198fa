#include "controller/app/sources.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <iostream>
#include <thread>

#include "controller/base/errors.h"
#include "controller/base/time_text.h"
#include "controller/devices/device_stage.h"
#include "controller/leases/lease_stage.h"
#include "controller/link/link_layer.h"
#include "controller/names/name_queries.h"
#include "controller/passive/heard_name_stage.h"
#include "controller/snmp/snmp_stage.h"
#include "controller/system/interfaces.h"
#include "controller/system/limits.h"
#include "controller/system/neighbour_table.h"
#include "controller/system/resolver.h"

namespace hostsweep::controller {
namespace {

using Maker = std::unique_ptr<Stage> (*)(const SourceSetting&, SourceParts&);

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

// The device questions take a quarter of the name questions' sockets (one
// per host, asked beside the names), their node status an eighth.
struct SocketShares {
  std::size_t names;
  std::size_t services;
  std::size_t nodeStatus;
};

SocketShares SharesOf(const SourceSetting& setting) {
  const std::size_t sockets = MostNameSockets();
  const bool deviceTypes = setting.means.deviceRules != nullptr;
  const std::size_t services = deviceTypes ? std::max<std::size_t>(sockets / 4, 1) : 0;
  const std::size_t nodeStatus = deviceTypes ? std::max<std::size_t>(sockets / 8, 1) : 0;
  return {std::max<std::size_t>(sockets - services - nodeStatus, 1), services, nodeStatus};
}

std::unique_ptr<Stage> LinkLayer(const SourceSetting& setting, SourceParts& /*parts*/) {
  const bool namesOnly = setting.options.namesOnly;
  const auto sweepBegan = std::chrono::steady_clock::now();
  if (!namesOnly) {
    std::this_thread::sleep_for(NeighbourAgeGrain());
  }
  return std::make_unique<LinkLayerStage>(
      ReadNeighbourTable, std::cerr, setting.options.verbose, setting.linkPass, sweepBegan,
      namesOnly ? LinkLayerStage::OwnMacs{} : ReadOwnMacs(), ReadNeighbourTableOverflows);
}

// Read beside the sweep: a slow agent costs only what outlasts it.
std::unique_ptr<Stage> RouterTables(const SourceSetting& setting, SourceParts& /*parts*/) {
  if (setting.means.routers == nullptr) {
    return nullptr;
  }
  return std::make_unique<SnmpStage>(ReadBeside(*setting.means.routers), std::cerr);
}

std::unique_ptr<Stage> Leases(const SourceSetting& setting, SourceParts& /*parts*/) {
  if (setting.means.leases == nullptr) {
    return nullptr;
  }
  setting.means.leases->Refresh();
  return std::make_unique<LeaseStage>(*setting.means.leases,
                                      EpochSeconds(std::chrono::system_clock::now()));
}

std::unique_ptr<Stage> HeardNames(const SourceSetting& setting, SourceParts& /*parts*/) {
  if (setting.means.heard == nullptr) {
    return nullptr;
  }
  return std::make_unique<HeardNameStage>(*setting.means.heard);
}

std::unique_ptr<Stage> Ipv6Addresses(const SourceSetting& setting, SourceParts& /*parts*/) {
  Ipv6Search* search = setting.ipv6Search;
  if (search == nullptr) {
    return nullptr;
  }
  return std::make_unique<Ipv6Stage>([search] { return search->Neighbours(); });
}

// A name-only sweep has its names already: it asks nothing more.
std::unique_ptr<Stage> Names(const SourceSetting& setting, SourceParts& parts) {
  if (setting.options.namesOnly) {
    return nullptr;
  }
  Resolver& resolver = parts.Keep(MakeResolver(setting.loop));
  NameQueries* queries = nullptr;
  if (setting.options.extraNames) {
    queries = &parts.Keep<NameQueries>(setting.loop, parts.Datagrams(), SharesOf(setting).names);
  }
  return std::make_unique<NameStage>(resolver, queries);
}

std::unique_ptr<Stage> Devices(const SourceSetting& setting, SourceParts& parts) {
  if (setting.options.namesOnly || setting.means.deviceRules == nullptr) {
    return nullptr;
  }
  const SocketShares shares = SharesOf(setting);
  auto& upnp = parts.Keep<UpnpSearch>(setting.loop, parts.Datagrams(), parts.Tcp(),
                                      SweptLinkAddresses(setting.addresses), setting.addresses);
  // Node status for the hosts already named, from the name questions' own
  // share of sockets; with --no-extra-names, none.
  NameQueries* nodeStatus =
      setting.options.extraNames
          ? &parts.Keep<NameQueries>(setting.loop, parts.Datagrams(), shares.nodeStatus)
          : nullptr;
  auto& services = parts.Keep<ServiceDiscovery>(setting.loop, parts.Datagrams(), shares.services);
  return std::make_unique<DeviceStage>(services, &upnp, nodeStatus, *setting.means.deviceRules);
}

// In the order they file their facts: each may read those before it (the
// IPv6 addresses and the device questions the link layer's MAC, the device
// rules the NetBIOS names).
constexpr std::array<Maker, 7> kSources{LinkLayer,     RouterTables, Leases, HeardNames,
                                        Ipv6Addresses, Names,        Devices};

}  // namespace

DatagramNetwork& SourceParts::Datagrams() {
  if (!datagrams_) {
    datagrams_ = MakeDatagramNetwork();
  }
  return *datagrams_;
}

TcpNetwork& SourceParts::Tcp() {
  if (!tcp_) {
    tcp_ = MakeTcpNetwork();
  }
  return *tcp_;
}

LastQuestions& LastQuestionsFor(const Options& options, const SweepMeans& means, EventLoop& loop,
                                SourceParts& parts) {
  LinkSocket* link = options.linkPass ? means.linkSocket : nullptr;
  std::vector<LinkInterface> interfaces = link ? link->Interfaces() : std::vector<LinkInterface>{};
  std::erase_if(interfaces, [&options](const LinkInterface& i) {
    return !options.interfaceName.empty() && i.name != options.interfaceName;
  });
  return parts.Keep<LastQuestions>(
      LastQuestionMeans{.loop = loop,
                        .datagrams = parts.Datagrams(),
                        .link = link,
                        .interfaces = std::move(interfaces),
                        .arpRate = static_cast<double>(options.arpRate)});
}

void AddSources(const SourceSetting& setting, SourceParts& parts, Stages& stages) {
  for (const Maker make : kSources) {
    if (auto stage = make(setting, parts)) {
      stages.Add(std::move(stage));
    }
  }
}

}  // namespace hostsweep::controller
