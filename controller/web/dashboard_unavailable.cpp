// The Windows build has neither the HTTP library nor the state database the
// dashboard reads: --web is refused.
#include "controller/base/build_parts.h"
#include "controller/web/dashboard.h"

namespace hostsweep::controller {

std::unique_ptr<SweepObserver> StartDashboard(const DashboardSettings& /*settings*/) {
  RefuseNotBuilt("--web");
}

}  // namespace hostsweep::controller
