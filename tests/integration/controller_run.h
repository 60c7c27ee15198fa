// Runs the real controller and reads back what it printed.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/integration/harness.h"

namespace hostsweep::testing {

using ControllerRun = ProcessResult;

enum class Interrupt { kNever, kAfterFirstRow };

// Runs hostsweep with `arguments` (no shell). With kAfterFirstRow, sends it
// SIGINT as soon as its output holds a line after the header.
ControllerRun RunController(const std::vector<std::string>& arguments,
                            Interrupt interrupt = Interrupt::kNever);

// The hostsweep binary under test, and the command line that runs it with
// `arguments`; a ChildProcess of it is a sweep a test can act on meanwhile.
std::string ControllerPath();
std::vector<std::string> ControllerCommand(const std::vector<std::string>& arguments);

// Each row of a --json sweep by its address.
std::map<std::string, nlohmann::json> JsonByAddress(const std::string& output);

// RFC 4180 records: fields split at commas, quoted fields unquoted.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text);

}  // namespace hostsweep::testing
