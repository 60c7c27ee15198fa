// What the XML and HTML formats say about the sweep as a whole.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace hostsweep::controller {

struct SweepRun {
  std::string commandLine;  // as the user typed it
  std::chrono::system_clock::time_point start;
  std::size_t addressCount = 0;
};

// Seconds since the epoch.
long long EpochSeconds(std::chrono::system_clock::time_point when);
// The local time as ctime() writes it, without the line end.
std::string LocalTimeText(std::chrono::system_clock::time_point when);
// ISO 8601 in UTC ("2026-12-08T21:03:00Z") for `seconds` since the epoch.
std::string UtcText(std::int64_t seconds);

}  // namespace hostsweep::controller
