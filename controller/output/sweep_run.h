// What the XML and HTML formats say about the sweep as a whole.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace hostsweep::controller {

struct SweepRun {
  std::string commandLine;  // as the user typed it
  std::chrono::system_clock::time_point start;
  std::size_t addressCount = 0;
};

}  // namespace hostsweep::controller
