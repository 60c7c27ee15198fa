// What the reliability tests share: a controller run they can act on while it
// sweeps, the processes running a program, and open descriptors.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/integration/controller_run.h"

namespace hostsweep::testing {

// hostsweep started in the background, its output collected by Finish().
class BackgroundController {
 public:
  explicit BackgroundController(const std::vector<std::string>& arguments);
  BackgroundController(const BackgroundController&) = delete;
  BackgroundController& operator=(const BackgroundController&) = delete;
  ~BackgroundController();

  [[nodiscard]] pid_t Pid() const { return pid_; }
  // Reads its output until it ends, and its exit status.
  ControllerRun Finish();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

// Processes whose program file is `program`.
std::vector<pid_t> ProcessesRunning(const std::string& program);

// Waits until at least `count` processes run `program`; false after 10 s.
bool AwaitProcesses(const std::string& program, std::size_t count);

// Entries in /proc/<pid>/fd ("self" for this process).
std::size_t OpenDescriptors(const std::string& pid = "self");

}  // namespace hostsweep::testing
