// The system's neighbour (ARP) table: one platform half each.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "controller/base/address.h"
#include "controller/base/mac_address.h"

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

// What the system's neighbour table (this network namespace's IPv4 entries)
// holds: how many entries the system could not reclaim now if the table were
// full (being resolved, counted reachable, or updated moments ago), and the
// address of every entry, in any state, sorted. Nothing where it cannot tell
// or sets no limit.
struct NeighbourTableLoad {
  std::size_t held = 0;
  std::vector<Address> addresses{};
  // ReadNeighbourTableOverflows, read with them.
  std::optional<std::uint64_t> overflows{};
};
NeighbourTableLoad ReadNeighbourTableLoad();

// How often since the machine started its neighbour table, which every
// network namespace shares, had no room for a new entry (Linux: gc_thresh3
// reached with nothing to reclaim); nothing where the system does not tell.
// A packet whose entry found no room is dropped unsent, and its sender is
// not told: an echo request to a live host then goes unanswered.
std::optional<std::uint64_t> ReadNeighbourTableOverflows();

// The grain of the system's entry ages (zero where it tells none). A sweep
// sends nothing in the grain it begins in, so that a host heard during the
// sweep is never taken for one heard just before it.
std::chrono::milliseconds NeighbourAgeGrain();

}  // namespace hostsweep::controller
