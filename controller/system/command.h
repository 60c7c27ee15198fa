// A shell command run for one event (--on-event), as cron runs its jobs:
// through /bin/sh -c, with nothing of ours but its input, its environment
// and a place for what it writes.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hostsweep::controller {

struct CommandRequest {
  std::string command;
  std::string input;  // its standard input, then end of file
  // Added to our environment, replacing any of the same name.
  std::vector<std::pair<std::string, std::string>> environment{};
  std::chrono::milliseconds bound{};  // then its process group is killed whole
};

struct CommandOutcome {
  bool succeeded = false;  // exit status 0 within the bound
  std::string why{};       // otherwise: "exit status 3", "still running after 5 s: killed" ...
};

// Runs the command in a process group of its own with none of our
// descriptors but the three given it (standard error joins standard
// output), no signal blocked and every signal's default action, and hands
// each line it writes (a line at most 4 KiB) to `line` as it comes. Returns
// once it has ended, or has been killed for outliving `bound`; reaped
// either way.
CommandOutcome RunShellCommand(const CommandRequest& request,
                               const std::function<void(std::string_view)>& line);

}  // namespace hostsweep::controller
