#include "controller/ipv6/ipv6_neighbours.h"

#include <algorithm>
#include <map>
#include <set>

#include "controller/base/errors.h"

namespace hostsweep::controller {
namespace {

bool OnNetwork(Address address, const InterfaceNetwork& network) {
  const Address mask = NetworkMask(network.prefixLength);
  return (address & mask) == (network.address & mask);
}

}  // namespace

Ipv6Search::Ipv6Search(EventLoop& loop, Ipv6Prober& prober, std::vector<std::string> interfaces,
                       const Ipv6Settings& settings, std::ostream& diagnostics)
    : loop_(loop), prober_(prober), diagnostics_(diagnostics) {
  prober_.Start(loop, std::move(interfaces), settings);
}

const std::vector<Ipv6Neighbour>* Ipv6Search::Neighbours() {
  if (!found_) {
    try {
      auto found = prober_.Found();
      if (!found) {
        return nullptr;
      }
      found_ = std::move(*found);
    } catch (const SystemError& error) {
      diagnostics_ << "hostsweep: warning: " << error.what() << "; no IPv6 addresses shown\n";
      found_.emplace();
    }
  }
  return &*found_;
}

const std::vector<Ipv6Neighbour>& Ipv6Search::AllNeighbours() {
  const std::vector<Ipv6Neighbour>* found = nullptr;
  while ((found = Neighbours()) == nullptr) {
    loop_.RunOnce();
  }
  return *found;
}

std::vector<std::string> InterfacesSwept(const std::vector<InterfaceNetwork>& networks,
                                         const std::vector<Address>& addresses) {
  std::set<std::string> names;
  for (const auto& network : networks) {
    // A point-to-point link has no link-layer addresses to join by.
    if (network.peer || names.contains(network.interfaceName)) {
      continue;
    }
    if (std::any_of(addresses.begin(), addresses.end(),
                    [&network](Address address) { return OnNetwork(address, network); })) {
      names.insert(network.interfaceName);
    }
  }
  return {names.begin(), names.end()};
}

std::vector<std::string> AddressesOf(const MacAddress& mac,
                                     const std::vector<Ipv6Neighbour>& neighbours) {
  std::vector<const Ipv6Neighbour*> matching;
  for (const auto& neighbour : neighbours) {
    if (neighbour.mac == mac) {
      matching.push_back(&neighbour);
    }
  }
  std::stable_sort(matching.begin(), matching.end(), [](const auto* a, const auto* b) {
    return std::pair(a->linkLocal, a->address) < std::pair(b->linkLocal, b->address);
  });
  std::vector<std::string> addresses;
  for (const auto* neighbour : matching) {
    if (addresses.empty() || addresses.back() != neighbour->address) {
      addresses.push_back(neighbour->address);
    }
  }
  return addresses;
}

std::vector<HostView> Ipv6OnlyViews(const std::vector<Ipv6Neighbour>& neighbours,
                                    const ResultBook& book, const VendorOf& vendorOf,
                                    std::ostream& diagnostics) {
  std::set<MacAddress> seenOverIpv4;
  for (const auto& result : book.Results()) {
    if (result.link && result.link->mac) {
      seenOverIpv4.insert(*result.link->mac);
    }
  }
  std::set<MacAddress> devices;
  for (const auto& neighbour : neighbours) {
    if (!seenOverIpv4.contains(neighbour.mac) && !IsPlaceholderMac(neighbour.mac)) {
      devices.insert(neighbour.mac);
    }
  }
  std::vector<HostView> views;
  for (const auto& mac : devices) {
    HostView view{.state = State::kAlive,
                  .mac = mac,
                  .macSource = MacSource::kNeighbour,
                  .evidence = Evidence::kIpv6EchoReply,
                  .ipv6 = AddressesOf(mac, neighbours),
                  .ipv6Only = true};
    if (vendorOf) {
      view.vendor = vendorOf(mac);
    }
    // A node answers each request to all nodes from one address, so a device
    // shows one per source address of ours (usually a link-local and a global
    // one): many more under one MAC were answered for it by another, or sent
    // by someone whose neighbour messages claimed them.
    if (view.ipv6.size() > kMostAddressesPerHost) {
      view.macSharedBy = view.ipv6.size();
      diagnostics << "hostsweep: warning: " << FormatMac(mac) << " answered IPv6 for "
                  << view.ipv6.size()
                  << " addresses: a proxy, one host holding them all and spoofed neighbour "
                     "messages look alike\n";
    }
    views.push_back(std::move(view));
  }
  return views;
}

void Ipv6Stage::Enrich(ResultBook& book, const std::vector<std::size_t>& finished) {
  for (const std::size_t position : finished) {
    const auto& link = book.Results()[position].link;
    if (link && link->mac) {
      book.AwaitIpv6(position);
      waiting_.push_back(position);
    }
  }
  Poll(book, std::chrono::milliseconds{0});
}

void Ipv6Stage::Poll(ResultBook& book, std::chrono::milliseconds /*timeout*/) {
  const auto* neighbours = waiting_.empty() ? nullptr : neighbours_();
  if (neighbours == nullptr) {
    return;
  }
  for (const std::size_t position : waiting_) {
    book.FileIpv6(position,
                  {.addresses = AddressesOf(*book.Results()[position].link->mac, *neighbours)});
  }
  waiting_.clear();
}

}  // namespace hostsweep::controller
