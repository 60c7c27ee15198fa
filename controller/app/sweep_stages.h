// The stages a sweep's results pass through, built from the options in the
// order each needs the facts of those before it: the link layer (the link
// pass's answers, else the neighbour table), the DHCP leases (for the hosts
// the link layer left found), the device's IPv6 addresses (joined by the
// link layer's MAC), the names the controller asks for, then
// what each device says it is (which reads the NetBIOS names).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controller/app/options.h"
#include "controller/base/stage.h"
#include "controller/devices/device_rules.h"
#include "controller/devices/service_discovery.h"
#include "controller/devices/upnp_search.h"
#include "controller/ipv6/ipv6_neighbours.h"
#include "controller/leases/lease_files.h"
#include "controller/link/link_pass.h"
#include "controller/names/name_queries.h"
#include "controller/snmp/router_tables.h"
#include "controller/system/resolver.h"
#include "controller/system/udp_network.h"

namespace hostsweep::controller {

// What the sweep may send with, opened while the controller still had its
// capabilities: a packet socket for the link pass (or why there is none) and
// the IPv6 prober (--ipv6); the device rules, read once (none: no device is
// asked what it is); the DHCP lease files (--leases), read again as they
// change; the routers whose neighbour tables each sweep reads (--snmp); the
// VLANs the link pass asks on from a trunk port (--vlan).
struct SweepMeans {
  LinkSocket* linkSocket;
  const std::string& whyNoLinkSocket;
  Ipv6Prober* ipv6Prober;
  const DeviceRules* deviceRules = nullptr;
  LeaseFiles* leases = nullptr;
  const RouterTables* routers = nullptr;
  const std::vector<LinkInterface>* vlanLinks = nullptr;
};

class SweepStages {
 public:
  // Starts the IPv6 search and readies the link pass, on `loop`; the worker
  // host must have set the signals first, since the search's thread shares them.
  SweepStages(const Options& options, const std::vector<Address>& addresses,
              const SweepMeans& means, EventLoop& loop);
  SweepStages(const SweepStages&) = delete;
  SweepStages& operator=(const SweepStages&) = delete;

  // None for a name-only sweep, which sends nothing on the link and has its
  // names already.
  [[nodiscard]] Stages* ForSweep() { return namesOnly_ ? nullptr : &stages_; }
  [[nodiscard]] ArpPass* LinkPass() const { return linkPass_.get(); }
  // The addresses left to the workers' echo requests.
  [[nodiscard]] std::size_t EchoPathCount(std::size_t addressCount) const;
  // A row for each device heard over IPv6 alone (--ipv6), once the search has ended.
  std::vector<HostView> Ipv6OnlyRows(const ResultBook& book, const VendorOf& vendorOf);

 private:
  bool namesOnly_;
  std::optional<Ipv6Search> ipv6Search_;
  std::unique_ptr<ArpPass> linkPass_;
  std::unique_ptr<Resolver> resolver_;
  std::unique_ptr<UdpNetwork> network_;
  std::optional<NameQueries> names_;
  std::optional<ServiceDiscovery> services_;
  std::optional<NameQueries> nodeStatus_;  // the device stage's NetBIOS questions
  std::unique_ptr<DeviceNetwork> deviceNetwork_;
  std::optional<UpnpSearch> upnp_;
  Stages stages_;
};

}  // namespace hostsweep::controller
