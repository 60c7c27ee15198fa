// The live progress line on standard error: done/total, found so far,
// elapsed time and an estimate of the time left; and the line that sums a
// sweep up once it is over.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "controller/base/results.h"

namespace hostsweep::controller {

// The estimate waits until a tenth of the addresses is done and a few
// seconds have passed: early results come in bursts (the link pass decides
// its dead all at once, echo time-outs end together), so the pace of the
// first second says little of the rest.
std::string ProgressText(std::size_t done, std::size_t total, std::size_t found,
                         std::chrono::seconds elapsed);

// "hostsweep: 256 addresses swept: 18 alive, 2 silent, 236 dead in 1.9 s";
// for a name-only sweep "looked up" and named, unnamed; "no report" only
// when a worker chain left some, "unchecked" only when the neighbour table
// left some.
std::string SweepSummary(const ResultBook& book, bool namesOnly, std::chrono::milliseconds elapsed);

// The warning that says how many addresses read unchecked, and why; nothing
// when none did.
std::optional<std::string> UncheckedWarning(const ResultBook& book);

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;
  using Now = std::function<Clock::time_point()>;

  explicit ProgressLine(std::ostream& terminal, Now now = Clock::now);
  // Redraws the line when its text differs from the one shown (or none is),
  // at most ten times a second: a sweep's rounds come far more often.
  void Update(std::size_t done, std::size_t total, std::size_t found);
  // Removes the line so that what follows starts on a clean line.
  void Clear();

 private:
  std::ostream& terminal_;
  Now now_;
  Clock::time_point start_;
  Clock::time_point lastDrawn_;
  std::string shown_;
  bool showing_ = false;
};

}  // namespace hostsweep::controller
