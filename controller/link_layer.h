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
// Has the system check entries of its neighbour table again, one link-layer
// request to each host, as it does for an entry it doubts. Made before the
// controller gives up its capabilities: on Linux the right to change the
// table (CAP_NET_ADMIN) is its socket's opener's. One platform half each.
class NeighbourRecheck {
 public:
  NeighbourRecheck();
  ~NeighbourRecheck();
  NeighbourRecheck(const NeighbourRecheck&) = delete;
  NeighbourRecheck& operator=(const NeighbourRecheck&) = delete;

  // Returns no sooner than the system's measure of an entry's age has moved
  // on from when it was called, so that what the sweep makes the system
  // confirm is told from what it confirmed before. Throws SystemError, also
  // when the right to change the table was missing.
  void Run(const std::vector<NeighbourEntry>& entries) const;

 private:
  int socket_ = -1;
  std::string whyNot_;
};

// What a host's neighbour entry (if any) says when the sweep is `sweepAge`
// old: its address, unless a placeholder, and whether the system heard from
// the host during the sweep.
LinkFacts LinkFactsOf(const NeighbourEntry* entry, std::chrono::milliseconds sweepAge);

// The first stage of a probed result: files every probed address's link facts,
// then hands the results on to `next`.
class LinkLayerEnrichment : public Enrichment {
 public:
  using TableReader = std::function<std::vector<NeighbourEntry>()>;
  // The MAC that answered the link pass for an address, if any: that answer
  // is its link facts, and the neighbour table is not read for it.
  using ArpAnswers = std::function<const MacAddress*(Address)>;
  using Clock = std::chrono::steady_clock;
  // `sweepBegan`: what the system heard from a host since then is what this
  // sweep saw (the entries checked again as it began included).
  LinkLayerEnrichment(TableReader readTable, std::ostream& diagnostics, bool verbose,
                      Enrichment* next = nullptr, ArpAnswers arpAnswers = {},
                      Clock::time_point sweepBegan = Clock::now());

 private:
  void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) override;
  std::vector<NeighbourEntry> ReadTable();

  [[nodiscard]] const MacAddress* ArpAnswerOf(Address address) const;

  TableReader readTable_;
  ArpAnswers arpAnswers_;
  std::ostream& diagnostics_;
  bool verbose_;
  bool tableFailed_ = false;
  Clock::time_point sweepBegan_;
};

}  // namespace hostsweep::controller
