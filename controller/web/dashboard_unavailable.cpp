// The Windows build has neither the HTTP library nor the state database the
// dashboard reads: --web is refused.
#include "controller/base/errors.h"
#include "controller/web/dashboard.h"

namespace hostsweep::controller {

std::unique_ptr<SweepObserver> StartDashboard(const DashboardSettings& /*settings*/) {
  throw UsageError("--web needs the Linux build (this one has no HTTP server library)");
}

}  // namespace hostsweep::controller
