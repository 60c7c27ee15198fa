// The routers' part of a sweep (--snmp): each host found that the link did
// not show gets the MAC its router's neighbour table lists for it. The
// tables are read beside the sweep; a stage that needs them before the
// reading is over waits for it, a bounded time.
#pragma once

#include <functional>
#include <optional>
#include <ostream>

#include "controller/base/stage.h"
#include "controller/snmp/router_tables.h"

namespace hostsweep::controller {

class SnmpStage : public Stage {
 public:
  // `reading`: ReadBeside's, under way; what went wrong is said on
  // `diagnostics` once it is over.
  SnmpStage(std::function<RouterNeighbours()> reading, std::ostream& diagnostics)
      : reading_(std::move(reading)), diagnostics_(diagnostics) {}
  void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) override;

 private:
  const RouterNeighbours& Neighbours();

  std::function<RouterNeighbours()> reading_;
  std::optional<RouterNeighbours> neighbours_{};
  std::ostream& diagnostics_;
};

}  // namespace hostsweep::controller
