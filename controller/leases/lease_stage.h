// The leases' part of a sweep: each host found gets what the lease of its
// address current at the sweep says (its MAC, its name), for the row to
// show where the link layer and the host's own answers give none.
#pragma once

#include <cstdint>

#include "controller/base/stage.h"
#include "controller/leases/lease_files.h"

namespace hostsweep::controller {

class LeaseStage : public Stage {
 public:
  // `now`: the sweep's start, in seconds since the epoch.
  LeaseStage(const LeaseFiles& files, std::int64_t now) : files_(files), now_(now) {}
  void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) override;

 private:
  const LeaseFiles& files_;
  std::int64_t now_;
};

}  // namespace hostsweep::controller
