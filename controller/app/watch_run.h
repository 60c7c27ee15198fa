// --watch: a sweep every interval until interrupted, with what is heard
// between sweeps, each change printed once as a line of its own.
#pragma once

#include "controller/app/run_plan.h"

namespace hostsweep::controller {

// Prints each change once and, with --state, records every whole sweep. A
// sweep that cannot be recorded is said on standard error and the watch
// goes on from the state before it: its changes are told with the next
// sweep that is recorded. The --known file's changes are taken before each
// sweep.
int RunWatch(RunPlan& plan);

}  // namespace hostsweep::controller
