// --ipv6: the IPv6 addresses of the devices on the swept links, found by one
// multicast echo request to all nodes per source address and try, and joined
// to the IPv4 rows by MAC. The worker stays IPv4: this is the controller's own.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "controller/base/address.h"
#include "controller/base/mac_address.h"
#include "controller/base/results.h"
#include "controller/base/stage.h"
#include "controller/system/interfaces.h"
#include "controller/system/ipv6_prober.h"

namespace hostsweep::controller {

// The prober's search on the event loop, its failure a warning.
class Ipv6Search {
 public:
  Ipv6Search(EventLoop& loop, Ipv6Prober& prober, std::vector<std::string> interfaces,
             const Ipv6Settings& settings, std::ostream& diagnostics);
  // What it found, once it has ended; nothing, with a warning, if it failed;
  // null while it goes on.
  const std::vector<Ipv6Neighbour>* Neighbours();
  // The same, turning the loop until its end.
  const std::vector<Ipv6Neighbour>& AllNeighbours();

 private:
  EventLoop& loop_;
  Ipv6Prober& prober_;
  std::optional<std::vector<Ipv6Neighbour>> found_;
  std::ostream& diagnostics_;
};

// The up interfaces holding a network that one of `addresses` is on.
std::vector<std::string> InterfacesSwept(const std::vector<InterfaceNetwork>& networks,
                                         const std::vector<Address>& addresses);

// The addresses of the device with `mac`: global ones first, each once.
std::vector<std::string> AddressesOf(const MacAddress& mac,
                                     const std::vector<Ipv6Neighbour>& neighbours);

// A row for each device that answered over IPv6 but holds none of the swept
// IPv4 addresses (no row's link MAC is its MAC), in MAC order. A device with
// more addresses than a host holds is warned about.
std::vector<HostView> Ipv6OnlyViews(const std::vector<Ipv6Neighbour>& neighbours,
                                    const ResultBook& book, const VendorOf& vendorOf,
                                    std::ostream& diagnostics);

// Files each probed address's IPv6 addresses, joined by the MAC its link
// facts give; the link layer's stage must come before it. Until the search
// has ended, those results wait (the sweep's loop goes on meanwhile).
class Ipv6Stage : public Stage {
 public:
  // What the search found; null while it goes on.
  using Neighbours = std::function<const std::vector<Ipv6Neighbour>*()>;
  explicit Ipv6Stage(Neighbours neighbours) : neighbours_(std::move(neighbours)) {}

  void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) override;
  [[nodiscard]] bool Busy() const override { return !waiting_.empty(); }
  void Poll(ResultBook& book, std::chrono::milliseconds timeout) override;

 private:
  Neighbours neighbours_;
  std::vector<std::size_t> waiting_;
};

}  // namespace hostsweep::controller
