// Work the controller does for an address after its worker has reported it
// and before it is shown (the link-layer facts; IPv6 addresses; more names).
// Once per round of the sweep every stage, in order, is handed every result
// filed since the last round and files its own facts about them, so that one
// query serves them all (one read of the neighbour table, one wave of name
// requests) and each stage sees what the stages before it found. Stages run
// inside the sweep's loop, between two turns of the event loop, so each
// bounds its own time; a stage that asks the network registers its sockets
// and timers with that loop, which alone waits.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <vector>

#include "controller/base/results.h"

namespace hostsweep::controller {

class Stage {
 public:
  Stage() = default;
  virtual ~Stage() = default;
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  // `finished`: positions in `book` whose probes are over (any state but
  // pending), each handed over once.
  virtual void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) = 0;
  // `heard`: positions that answered the link pass, their probes still to
  // come. A stage that asks the network may start asking them now, so that
  // its wait overlaps the workers'; what it files waits for Enrich.
  virtual void Heard(const ResultBook& /*book*/, const std::vector<std::size_t>& /*heard*/) {}
  // A stage that asks the network: true while answers are outstanding.
  [[nodiscard]] virtual bool Busy() const { return false; }
  // Files the answers that came into `book`, waiting at most `timeout` for
  // those that come off the loop.
  virtual void Poll(ResultBook& /*book*/, std::chrono::milliseconds /*timeout*/) {}
};

// The stages of a sweep, in the order they file their facts.
class Stages {
 public:
  void Add(std::unique_ptr<Stage> stage) { stages_.push_back(std::move(stage)); }

  void Pass(ResultBook& book, const std::vector<std::size_t>& finished) {
    for (const auto& stage : stages_) {
      stage->Enrich(book, finished);
    }
  }
  void Heard(const ResultBook& book, const std::vector<std::size_t>& heard) {
    for (const auto& stage : stages_) {
      stage->Heard(book, heard);
    }
  }
  // True while a stage waits for answers; the sweep goes on until none does.
  [[nodiscard]] bool Busy() const {
    for (const auto& stage : stages_) {
      if (stage->Busy()) {
        return true;
      }
    }
    return false;
  }
  void Poll(ResultBook& book, std::chrono::milliseconds timeout) {
    for (const auto& stage : stages_) {
      if (stage->Busy()) {
        stage->Poll(book, timeout);
      }
    }
  }

 private:
  std::vector<std::unique_ptr<Stage>> stages_;
};

}  // namespace hostsweep::controller
