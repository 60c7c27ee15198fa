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

#include "controller/base/address.h"
#include "controller/base/mac_address.h"
#include "controller/base/results.h"
#include "controller/base/stage.h"
#include "controller/system/neighbour_table.h"

namespace hostsweep::controller {

// What a host's neighbour entry (if any) says when the sweep is `sweepAge`
// old: its address, unless a placeholder, and whether the system heard from
// the host during the sweep.
LinkFacts LinkFactsOf(const NeighbourEntry* entry, std::chrono::milliseconds sweepAge);

// The first stage of a probed result: files every probed address's link facts,
// before any other stage sees them.
class LinkLayerStage : public Stage {
 public:
  using TableReader = std::function<std::vector<NeighbourEntry>()>;
  // The MAC that answered the link pass for an address, if any: that answer
  // is its link facts, and the neighbour table is not read for it.
  using ArpAnswers = std::function<const MacAddress*(Address)>;
  using Clock = std::chrono::steady_clock;
  // `sweepBegan`: what the system heard from a host since then is what this
  // sweep saw (the entries checked again as it began included).
  LinkLayerStage(TableReader readTable, std::ostream& diagnostics, bool verbose,
                 ArpAnswers arpAnswers = {}, Clock::time_point sweepBegan = Clock::now());

  void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) override;

 private:
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
