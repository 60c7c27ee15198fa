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
#include "controller/link_pass.h"
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
};

// The resolved IPv4 entries of the system's neighbour table (never those
// still resolving or failed). One platform half each; throws SystemError.
std::vector<NeighbourEntry> ReadNeighbourTable();

// The grain of the system's entry ages (zero where it tells none). A sweep
// sends nothing in the grain it begins in, so that a host heard during the
// sweep is never taken for one heard just before it.
std::chrono::milliseconds NeighbourAgeGrain();

// What a host's neighbour entry (if any) says when the sweep is `sweepAge`
// old: its address, unless a placeholder, and whether the system heard from
// the host during the sweep.
LinkFacts LinkFactsOf(const NeighbourEntry* entry, std::chrono::milliseconds sweepAge);

// The first stage of a probed result: files every probed address's link facts,
// then hands the results on to `next`. A result the link pass answered waits
// for the pass to end, to learn whether its MAC answered for more addresses
// than a host holds.
class LinkLayerEnrichment : public Enrichment {
 public:
  using TableReader = std::function<std::vector<NeighbourEntry>()>;
  using Clock = std::chrono::steady_clock;
  // `linkPass`, if any: the MAC that answered it for an address is that
  // address's link facts, and the neighbour table is not read for it.
  // `sweepBegan`: what the system heard from a host since then is what this
  // sweep saw (the entries checked again as it began included).
  LinkLayerEnrichment(TableReader readTable, std::ostream& diagnostics, bool verbose,
                      Enrichment* next = nullptr, const ArpPass* linkPass = nullptr,
                      Clock::time_point sweepBegan = Clock::now());

 private:
  void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) override;
  [[nodiscard]] bool Busy() const override { return !awaitingPassEnd_.empty(); }
  void Poll(ResultBook& book, std::chrono::milliseconds timeout) override;
  std::vector<NeighbourEntry> ReadTable();

  [[nodiscard]] const MacAddress* ArpAnswerOf(Address address) const;

  TableReader readTable_;
  const ArpPass* linkPass_;
  std::ostream& diagnostics_;
  bool verbose_;
  bool tableFailed_ = false;
  Clock::time_point sweepBegan_;
  std::vector<std::size_t> awaitingPassEnd_;
};

}  // namespace hostsweep::controller
