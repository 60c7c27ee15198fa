#include "controller/app/sweep_stages.h"

#include <algorithm>
#include <chrono>
#include <iostream>

#include "controller/link/vlan_links.h"
#include "controller/system/interfaces.h"

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
                                          const std::vector<Address>& addresses, Ipv6Prober* prober,
                                          EventLoop& loop) {
  if (prober == nullptr) {
    return std::nullopt;
  }
  auto interfaces = InterfacesSwept(ReadInterfaceNetworks(), addresses);
  if (options.verbose) {
    for (const auto& name : interfaces) {
      std::cerr << "hostsweep: --ipv6: asking all IPv6 nodes on " << name << "\n";
    }
  }
  return std::optional<Ipv6Search>(std::in_place, loop, *prober, std::move(interfaces),
                                   Ipv6Settings{}, std::cerr);
}

}  // namespace

SweepStages::SweepStages(const Options& options, const std::vector<Address>& addresses,
                         const SweepMeans& means, EventLoop& loop)
    : namesOnly_(options.namesOnly),
      ipv6Search_(StartIpv6Search(options, addresses, means.ipv6Prober, loop)),
      linkPass_(PrepareLinkPass(options, addresses, means, loop)) {
  AddSources({.options = options,
              .addresses = addresses,
              .means = means,
              .loop = loop,
              .linkPass = linkPass_.get(),
              .ipv6Search = ipv6Search_ ? &*ipv6Search_ : nullptr},
             parts_, stages_);
}

std::size_t SweepStages::EchoPathCount(std::size_t addressCount) const {
  return addressCount - (linkPass_ ? linkPass_->CoveredCount() : 0);
}

std::vector<HostView> SweepStages::Ipv6OnlyRows(const ResultBook& book, const VendorOf& vendorOf) {
  return ipv6Search_ ? Ipv6OnlyViews(ipv6Search_->AllNeighbours(), book, vendorOf, std::cerr)
                     : std::vector<HostView>{};
}

}  // namespace hostsweep::controller
