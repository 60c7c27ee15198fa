// The link-layer address of each swept host, from the system's neighbour
// (ARP) table: no extra traffic, since the echo requests already made the
// system resolve every address on a directly connected network. A host behind
// a router has no entry of its own, so it never gets the router's address.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <vector>

#include "controller/enrichment.h"
#include "controller/mac_address.h"
#include "controller/results.h"
#include "controller/targets.h"
#include "controller/vendors.h"

namespace hostsweep::controller {

struct NeighbourEntry {
  Address address = 0;
  MacAddress mac{};
  bool reachable = false;  // confirmed recently, by the system's own measure
  // How long ago the system last heard from the host, where it tells.
  std::optional<std::chrono::milliseconds> sinceConfirmed{};
};

// The resolved IPv4 entries of the system's neighbour table (never those
// still resolving or failed). One platform half each; throws SystemError.
std::vector<NeighbourEntry> ReadNeighbourTable();

// Fills in the shown address, its source and the state from the worker's
// report and the host's neighbour entry (if any) when the sweep is `sweepAge`
// old: a dead host whose entry was confirmed during the sweep is silent.
void ApplyLinkLayer(HostResult& result, const NeighbourEntry* entry,
                    std::chrono::milliseconds sweepAge);

// The same for a host that answered the controller's own ARP request with
// `mac`: that answer is its MAC, and a host that ignored echo is silent.
void ApplyArpAnswer(HostResult& result, const MacAddress& mac);

class LinkLayerEnrichment : public Enrichment {
 public:
  using TableReader = std::function<std::vector<NeighbourEntry>()>;
  // The MAC that answered the link pass for an address, if any; the neighbour
  // table is not read for those addresses.
  using ArpAnswers = std::function<const MacAddress*(Address)>;
  LinkLayerEnrichment(TableReader readTable, LazyVendorRegistry& vendors, std::ostream& diagnostics,
                      bool verbose, ArpAnswers arpAnswers = {});
  void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) override;

 private:
  std::vector<NeighbourEntry> ReadTable();

  [[nodiscard]] const MacAddress* ArpAnswerOf(Address address) const;

  TableReader readTable_;
  ArpAnswers arpAnswers_;
  LazyVendorRegistry& vendors_;
  std::ostream& diagnostics_;
  bool verbose_;
  bool tableFailed_ = false;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace hostsweep::controller
