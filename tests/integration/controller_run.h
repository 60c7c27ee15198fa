// Runs the real controller and reads back what it printed.
#pragma once

#include <string>
#include <vector>

namespace hostsweep::testing {

struct ControllerRun {
  int exitStatus;  // -signal when killed by a signal
  std::string standardOutput;
  std::string standardError;
};

enum class Interrupt { kNever, kAfterFirstRow };

// Runs hostsweep with `arguments` (no shell). With kAfterFirstRow, sends it
// SIGINT as soon as its output holds a line after the header.
ControllerRun RunController(const std::vector<std::string>& arguments,
                            Interrupt interrupt = Interrupt::kNever);

// The hostsweep binary under test.
std::string ControllerPath();

// RFC 4180 records: fields split at commas, quoted fields unquoted.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text);

}  // namespace hostsweep::testing
