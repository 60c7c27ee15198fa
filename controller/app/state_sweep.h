// One sweep with --state: the rows show what changed since what the
// database knows, as with --compare, and the sweep is recorded, its events
// delivered once.
#pragma once

#include "controller/app/run_plan.h"

namespace hostsweep::controller {

// A sweep that cannot be recorded ends with exit status 4.
int RunStateSweep(RunPlan& plan);

}  // namespace hostsweep::controller
