// How much of the system's resources a sweep may take: one platform half each.
#pragma once

#include <cstddef>

namespace hostsweep::controller {

// Name question sockets open at once: two per host, so 128 hosts are asked at a time, and
// a sweep's hosts do not wait for each other's 750 ms.
inline constexpr std::size_t kNameSockets = 256;

// How many addresses the system's neighbour (ARP) table holds at most; 0 when
// the system sets no limit the sweep has to mind.
std::size_t NeighbourTableSize();
// How many worker chains the system's limits (descriptors) let run at once,
// beside MostNameSockets(); asked once MakeWorkerHost has raised what it can.
std::size_t MostChainsAtOnce();
// How many name question sockets may be open at once: kNameSockets, fewer
// where the descriptor limit is low.
std::size_t MostNameSockets();

}  // namespace hostsweep::controller
