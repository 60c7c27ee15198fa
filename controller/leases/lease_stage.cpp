#include "controller/leases/lease_stage.h"

namespace hostsweep::controller {

void LeaseStage::Enrich(ResultBook& book, const std::vector<std::size_t>& finished) {
  for (const std::size_t position : finished) {
    const HostResult& result = book.Results()[position];
    // A lease says whom the address was given to, not that anyone holds it:
    // a dead address's row stays bare.
    if (!IsFound(StateOf(result))) {
      continue;
    }
    if (const auto lease = files_.CurrentLease(result.address, now_)) {
      book.FileLease(position, {.mac = lease->mac, .name = lease->hostName});
    }
  }
}

}  // namespace hostsweep::controller
