// The worker's entry procedure: reads the request line, then runs either the
// name-only request or the slot sequence.
#pragma once

namespace hostsweep {

void RunWorker();

}  // namespace hostsweep
