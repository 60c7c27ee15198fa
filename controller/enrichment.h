// Work the controller does for an address after its worker has reported it
// and before it is shown (the link-layer address and maker; more names).
// Once per round of the sweep each stage in turn is handed every result filed
// since the last round, so that one query serves them all: one read of the
// neighbour table, one wave of name requests. Stages run inside the sweep's
// loop, between two waits for reports, so each bounds its own time.
#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

#include "controller/results.h"

namespace hostsweep::controller {

class Enrichment {
 public:
  virtual ~Enrichment() = default;
  // `finished`: positions in `book` whose probes are over (any state but
  // pending), each handed over once.
  virtual void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) = 0;
  // A stage that asks the network: true while answers are outstanding; the
  // sweep goes on until none is.
  [[nodiscard]] virtual bool Busy() const { return false; }
  // Reads the answers that came, waiting at most `timeout`, into `book`.
  virtual void Poll(ResultBook& /*book*/, std::chrono::milliseconds /*timeout*/) {}
};

}  // namespace hostsweep::controller
