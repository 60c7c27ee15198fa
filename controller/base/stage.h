// Work the controller does for an address after its worker has reported it
// and before it is shown (the link-layer facts; more names). Stages form a
// chain: once per round of the sweep the first is handed every result filed
// since the last round, files its own facts about them and hands them on to
// the next, so that one query serves them all (one read of the neighbour
// table, one wave of name requests) and each stage sees what the stages
// before it found. Stages run inside the sweep's loop, between two waits for
// reports, so each bounds its own time.
#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

#include "controller/base/results.h"

namespace hostsweep::controller {

class Stage {
 public:
  explicit Stage(Stage* next) : next_(next) {}
  virtual ~Stage() = default;
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  // `finished`: positions in `book` whose probes are over (any state but
  // pending), each handed over once; this stage's facts are filed before the
  // next stage sees them.
  void Pass(ResultBook& book, const std::vector<std::size_t>& finished) {
    Enrich(book, finished);
    if (next_ != nullptr) {
      next_->Pass(book, finished);
    }
  }
  // True while a stage of the chain waits for answers; the sweep goes on
  // until none does.
  [[nodiscard]] bool ChainBusy() const {
    return Busy() || (next_ != nullptr && next_->ChainBusy());
  }
  // Reads the answers that came to every waiting stage, each waiting at most
  // `timeout`, into `book`.
  void PollChain(ResultBook& book, std::chrono::milliseconds timeout) {
    if (Busy()) {
      Poll(book, timeout);
    }
    if (next_ != nullptr) {
      next_->PollChain(book, timeout);
    }
  }

 private:
  virtual void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) = 0;
  // A stage that asks the network: true while answers are outstanding.
  [[nodiscard]] virtual bool Busy() const { return false; }
  virtual void Poll(ResultBook& /*book*/, std::chrono::milliseconds /*timeout*/) {}

  Stage* next_;
};

}  // namespace hostsweep::controller
