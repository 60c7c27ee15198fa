// The addresses a run sweeps: the networks --localnet finds, then every
// target and target file in the order given.
#pragma once

#include <vector>

#include "controller/app/options.h"
#include "controller/base/address.h"

namespace hostsweep::controller {

// `inputClosed`: standard input was closed at start, so "-f -" has nothing
// to read. Throws UsageError.
std::vector<Address> CollectAddresses(const Options& options, bool inputClosed);

}  // namespace hostsweep::controller
