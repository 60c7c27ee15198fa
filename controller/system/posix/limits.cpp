#include "controller/system/limits.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <optional>

namespace hostsweep::controller {
namespace {

// Descriptors held whatever the sweep's size: the standard streams, the
// report socket, the signal descriptor, and some to spare (target files, the
// C library's own).
constexpr rlim_t kFixedDescriptors = 16;
// Per running chain: the read end of its standard error and a report
// connection for each of its up to three workers. One more is needed for the
// moment a chain starts (the write end of its pipe).
constexpr rlim_t kDescriptorsPerChain = 4;
// The name questions' share of what the fixed descriptors leave: their own,
// whatever -j is, so that few chains never make the questions queue.
constexpr rlim_t kNameSocketShare = 4;

// The descriptors left after the fixed ones; nothing for no limit.
std::optional<rlim_t> SpareDescriptors() {
  rlimit descriptors{};
  if (getrlimit(RLIMIT_NOFILE, &descriptors) != 0 || descriptors.rlim_cur == RLIM_INFINITY) {
    return std::nullopt;
  }
  return descriptors.rlim_cur > kFixedDescriptors ? descriptors.rlim_cur - kFixedDescriptors : 0;
}

}  // namespace

std::size_t NeighbourTableSize() {
  // The table is the machine's, shared by every network namespace, and only
  // the first namespace shows its limit; elsewhere assume the kernel's default.
  constexpr std::size_t kKernelDefault = 1024;
  std::ifstream file("/proc/sys/net/ipv4/neigh/default/gc_thresh3");
  std::size_t size = 0;
  return file >> size && size > 0 ? size : kKernelDefault;
}

std::size_t MostNameSockets() {
  const auto spare = SpareDescriptors();
  if (!spare) {
    return kNameSockets;
  }
  return std::clamp<std::size_t>(*spare / kNameSocketShare, 1, kNameSockets);
}

std::size_t MostChainsAtOnce() {
  const auto spare = SpareDescriptors();
  if (!spare) {
    return SIZE_MAX;
  }
  const rlim_t forNames = MostNameSockets();
  if (*spare < forNames + 1 + kDescriptorsPerChain) {
    return 1;
  }
  return (*spare - forNames - 1) / kDescriptorsPerChain;
}

}  // namespace hostsweep::controller
