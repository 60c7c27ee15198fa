#include "controller/snmp/snmp_stage.h"

namespace hostsweep::controller {

const RouterNeighbours& SnmpStage::Neighbours() {
  if (!neighbours_) {
    neighbours_ = reading_();
    for (const std::string& problem : neighbours_->problems) {
      diagnostics_ << "hostsweep: " << problem << '\n';
    }
  }
  return *neighbours_;
}

void SnmpStage::Enrich(ResultBook& book, const std::vector<std::size_t>& finished) {
  for (const std::size_t position : finished) {
    const HostResult& result = book.Results()[position];
    // An entry outlives its host for a while: a dead address's row stays bare.
    if (!IsFound(StateOf(result))) {
      continue;
    }
    const auto& macs = Neighbours().macs;
    if (const auto listed = macs.find(result.address); listed != macs.end()) {
      book.FileRouterMac(position, listed->second);
    }
  }
}

}  // namespace hostsweep::controller
