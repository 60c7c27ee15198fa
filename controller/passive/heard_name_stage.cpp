#include "controller/passive/heard_name_stage.h"

namespace hostsweep::controller {

void HeardNameStage::Enrich(ResultBook& book, const std::vector<std::size_t>& finished) {
  for (const std::size_t position : finished) {
    const HostResult& result = book.Results()[position];
    // By the MAC that answered at the address now, so that a name heard
    // from a device never lands on another that took its address since.
    if (!IsFound(StateOf(result)) || !result.link || !result.link->mac) {
      continue;
    }
    if (std::string name = heard_.DhcpNameOf(*result.link->mac); !name.empty()) {
      book.FileDhcpName(position, name);
    }
  }
}

}  // namespace hostsweep::controller
