// The link-layer address of each swept host, from the system's neighbour
// (ARP) table: no extra traffic, since the echo requests already made the
// system resolve every address on a directly connected network. A host behind
// a router has no entry of its own, so it never gets the router's address.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <unordered_map>
#include <vector>

#include "controller/base/address.h"
#include "controller/base/mac_address.h"
#include "controller/base/results.h"
#include "controller/base/stage.h"
#include "controller/link/link_pass.h"
#include "controller/system/neighbour_table.h"

namespace hostsweep::controller {

// What a host's neighbour entry (if any) says when the sweep is `sweepAge`
// old: its address, unless a placeholder, and whether the system heard from
// the host during the sweep.
LinkFacts LinkFactsOf(const NeighbourEntry* entry, std::chrono::milliseconds sweepAge);

// What the link layer says of an address that answered the controller's own
// ARP request with `answer`: heard during the sweep, so an `echo` of dead
// reads silent. Unless the neighbour table had no room for an entry at some
// time of the sweep (`tableOverflowed`) and holds no resolved `entry` for the
// address: then its echo requests may never have left, and dead is no verdict.
LinkFacts ArpLinkFactsOf(const MacAddress& answer, State echo, bool tableOverflowed,
                         const NeighbourEntry* entry);

// The first stage of a probed result: files every probed address's link facts,
// before any other stage sees them. A result the link pass answered waits
// for the pass to end, to learn whether its MAC answered for more addresses
// than a host holds.
class LinkLayerStage : public Stage {
 public:
  using TableReader = std::function<std::vector<NeighbourEntry>()>;
  using Clock = std::chrono::steady_clock;
  using OwnMacs = std::unordered_map<Address, MacAddress>;
  using OverflowReader = std::function<std::optional<std::uint64_t>()>;
  // `linkPass`, if any: the MAC that answered it for an address is that
  // address's link facts, and the neighbour table is not read for it.
  // `sweepBegan`: what the system heard from a host since then is what this
  // sweep saw (the entries checked again as it began included). `ownMacs`:
  // this machine's addresses, each with its interface's MAC, which no
  // neighbour entry holds. `readOverflows`: ReadNeighbourTableOverflows, read
  // once now, before any worker, and again whenever an answerer reads dead.
  LinkLayerStage(TableReader readTable, std::ostream& diagnostics, bool verbose,
                 const ArpPass* linkPass = nullptr, Clock::time_point sweepBegan = Clock::now(),
                 OwnMacs ownMacs = {}, OverflowReader readOverflows = {});

  void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) override;
  [[nodiscard]] bool Busy() const override { return !awaitingPassEnd_.empty(); }
  void Poll(ResultBook& book, std::chrono::milliseconds timeout) override;

 private:
  std::vector<NeighbourEntry> ReadTable();
  // Whether the table had no room for an entry since the stage was made.
  [[nodiscard]] bool TableOverflowed() const;

  [[nodiscard]] const MacAddress* ArpAnswerOf(Address address) const;

  TableReader readTable_;
  const ArpPass* linkPass_;
  std::ostream& diagnostics_;
  bool verbose_;
  bool tableFailed_ = false;
  Clock::time_point sweepBegan_;
  OwnMacs ownMacs_;
  OverflowReader readOverflows_;
  std::optional<std::uint64_t> overflowsBefore_;
  std::vector<std::size_t> awaitingPassEnd_;
};

}  // namespace hostsweep::controller
