// Starts a chain's first worker so that the guardian always knows its group:
// the new process leads a group of its own and tells the guardian so itself,
// before it runs the worker program. Were the controller killed at any moment
// of a start, the guardian either never hears of a process that never ran
// the worker, or has heard of the group before the worker runs.
#pragma once

#include <sys/types.h>

#include <string>

namespace hostsweep::controller {

struct SpawnOutcome {
  pid_t pid;  // the worker's, when `error` is 0
  int error;  // an errno value: the process or the program could not be started
};

// The program file open at descriptor `program`, named `name` (its argv[0]),
// with `argument` as its one argument and the controller's environment;
// standard input and output on /dev/null, standard error on `errors`; no
// signal blocked and the default action for those the controller handles or
// ignores. `guardian` is where the guardian reads the groups it is to guard
// (ChainGuardian::Commands).
SpawnOutcome SpawnGuarded(int program, const std::string& name, const std::string& argument,
                          int errors, int guardian);

}  // namespace hostsweep::controller
