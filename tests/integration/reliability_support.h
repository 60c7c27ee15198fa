// What the reliability tests share: a controller run they can act on while it
// sweeps, the processes running a program, and open descriptors.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/integration/controller_run.h"

namespace hostsweep::testing {

// Waits until at least `count` processes run `program`; false after 10 s.
bool AwaitProcesses(const std::string& program, std::size_t count);

// Entries in /proc/<pid>/fd ("self" for this process).
std::size_t OpenDescriptors(const std::string& pid = "self");

}  // namespace hostsweep::testing
