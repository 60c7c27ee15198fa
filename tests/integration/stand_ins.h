// Hosts that come and go at the test's word: ARP answerers with MACs of the
// test's choosing, on charlie's side of the lab's bridge.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/integration/harness.h"

namespace hostsweep::testing {

// Answers ARP for `address` with `mac`, `delay` late, until destroyed.
std::unique_ptr<ChildProcess> StandIn(const std::string& address, const std::string& mac,
                                      milliseconds delay = milliseconds(0));

using StandIns = std::map<std::string, std::string>;  // address and MAC

// Each of `hosts`, the scanner's neighbour table flushed first.
std::vector<std::unique_ptr<ChildProcess>> StandUp(const StandIns& hosts);

}  // namespace hostsweep::testing
