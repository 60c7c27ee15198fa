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

namespace hostsweep::controller {

struct NeighbourEntry {
  Address address = 0;
  MacAddress mac{};
  bool reachable = false;  // confirmed recently, by the system's own measure
  // How long ago at most the system last heard from the host, where it tells.
  std::optional<std::chrono::milliseconds> sinceConfirmed{};
  int interfaceIndex = 0;
  bool fixed = false;  // set by hand (permanent): never checked by the system
};

// The resolved IPv4 entries of the system's neighbour table (never those
// still resolving or failed). One platform half each; throws SystemError.
std::vector<NeighbourEntry> ReadNeighbourTable();

// Whether a host ignoring echo reads silent must not depend on what the
// table held before the sweep: a host with no entry is resolved by the echo
// requests, one with an entry would not be asked again for seconds (stale)
// or at all (reachable). So the entries of the swept addresses are checked
// again as the sweep begins: these are they (every one but a fixed one).
std::vector<NeighbourEntry> EntriesToRecheck(const std::vector<NeighbourEntry>& table,
                                             const std::vector<Address>& swept);
// Has the system check each entry again now, one link-layer request to its
// host each, as it does for an entry it doubts. Returns no sooner than the
// system's measure of an entry's age has moved on from when it was called,
// so that what the sweep makes the system confirm is told from what it
// confirmed before. One platform half each; throws SystemError (on Linux it
// needs CAP_NET_ADMIN).
void RecheckNeighbours(const std::vector<NeighbourEntry>& entries);

// What a host's neighbour entry (if any) says when the sweep is `sweepAge`
// old: its address, unless a placeholder, and whether the system heard from
// the host during the sweep.
LinkFacts LinkFactsOf(const NeighbourEntry* entry, std::chrono::milliseconds sweepAge);

// The first stage of a probed result: files every probed address's link facts,
// then hands the results on to `next`.
class LinkLayerEnrichment : public Enrichment {
 public:
  using TableReader = std::function<std::vector<NeighbourEntry>()>;
  LinkLayerEnrichment(TableReader readTable, std::ostream& diagnostics, bool verbose,
                      Enrichment* next = nullptr);

 private:
  void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) override;
  std::vector<NeighbourEntry> ReadTable();

  TableReader readTable_;
  std::ostream& diagnostics_;
  bool verbose_;
  bool tableFailed_ = false;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace hostsweep::controller
