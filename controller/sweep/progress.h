// The live progress line on standard error: done/total, found so far,
// elapsed time and an estimate of the time left.
#pragma once

#include <chrono>
#include <cstddef>
#include <ostream>
#include <string>

namespace hostsweep::controller {

std::string ProgressText(std::size_t done, std::size_t total, std::size_t found,
                         std::chrono::seconds elapsed);

class ProgressLine {
 public:
  explicit ProgressLine(std::ostream& terminal);
  // Redraws the line, at most a few times a second.
  void Update(std::size_t done, std::size_t total, std::size_t found);
  // Removes the line so that what follows starts on a clean line.
  void Clear();

 private:
  using Clock = std::chrono::steady_clock;

  std::ostream& terminal_;
  Clock::time_point start_;
  Clock::time_point lastDrawn_;
  bool drawn_ = false;
};

}  // namespace hostsweep::controller
