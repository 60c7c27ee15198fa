// The sources of a sweep, in one list: each files its facts per device as a
// stage (the link layer, the routers' tables, the DHCP leases, the IPv6
// addresses, the names asked for, what devices say they are), made from the
// options, or left out by them. A new asking protocol is its folder, its
// maker in sources.cpp and one line in that list.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "controller/app/options.h"
#include "controller/base/stage.h"
#include "controller/devices/device_rules.h"
#include "controller/ipv6/ipv6_neighbours.h"
#include "controller/leases/lease_files.h"
#include "controller/link/link_pass.h"
#include "controller/passive/passive_book.h"
#include "controller/recheck/last_questions.h"
#include "controller/snmp/router_tables.h"
#include "controller/system/datagram_network.h"
#include "controller/system/event_loop.h"
#include "controller/system/tcp_network.h"

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
  const PassiveBook* heard = nullptr;  // what a watch heard devices say of themselves
};

// What the sources are made from.
struct SourceSetting {
  const Options& options;
  const std::vector<Address>& addresses;
  const SweepMeans& means;
  EventLoop& loop;
  ArpPass* linkPass;       // none: the neighbour table alone
  Ipv6Search* ipv6Search;  // none without --ipv6
};

// What the sources' stages use, kept as long as they: the sockets, made on
// first use, and the askers over them.
class SourceParts {
 public:
  DatagramNetwork& Datagrams();
  TcpNetwork& Tcp();
  template <class Part, class... Arguments>
  Part& Keep(Arguments&&... arguments) {
    auto part = std::make_shared<Part>(std::forward<Arguments>(arguments)...);
    kept_.push_back(part);
    return *part;
  }
  template <class Part>
  Part& Keep(std::unique_ptr<Part> made) {
    std::shared_ptr<Part> part = std::move(made);
    kept_.push_back(part);
    return *part;
  }

 private:
  std::unique_ptr<DatagramNetwork> datagrams_;
  std::unique_ptr<TcpNetwork> tcp_;
  std::vector<std::shared_ptr<void>> kept_;  // gone before the sockets' networks
};

// Adds every source the options ask for to `stages`, in the list's order.
void AddSources(const SourceSetting& setting, SourceParts& parts, Stages& stages);

// What a watch asks the devices it is about to tell gone, kept in `parts`:
// ARP on the interfaces the link pass asks on (none with --no-arp or without
// a packet socket), mDNS everywhere.
LastQuestions& LastQuestionsFor(const Options& options, const SweepMeans& means, EventLoop& loop,
                                SourceParts& parts);

}  // namespace hostsweep::controller
