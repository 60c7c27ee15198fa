#include "controller/system/limits.h"

#include <cstdint>

namespace hostsweep::controller {

// Handles, windows and job objects run out long after -j's most.
std::size_t MostChainsAtOnce() { return SIZE_MAX; }
std::size_t MostNameSockets() { return kNameSockets; }

// Windows grows its neighbour cache as it needs, and an echo request waiting
// for resolution waits inside its own call.
std::size_t NeighbourTableSize() { return 0; }

}  // namespace hostsweep::controller
