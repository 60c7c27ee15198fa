// One sweep from start to exit status, as every way of running has it: the
// workers and the sources run, the rows handed to the sinks under the
// progress line, what the sweep's end means said on standard error.
#pragma once

#include "controller/app/run_plan.h"
#include "controller/app/sinks.h"
#include "controller/output/output_channel.h"

namespace hostsweep::controller {

// The exit status of the sweep, with its rows handed to `taker` besides the
// result files.
int RunSweep(RunPlan& plan, RowTaker taker);

// Whether the sweep's rows were all there is: neither interrupted nor cut
// short by output that could not be written. Only such a sweep is recorded.
bool IsWhole(int status);

bool WriteFailed(const OutputChannel& output);
// A failed write of the results ends the run; the exit status it ends with.
int OutputFailed(const OutputChannel& output);

}  // namespace hostsweep::controller
