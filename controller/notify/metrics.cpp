#include "controller/notify/metrics.h"

#include "controller/base/errors.h"

namespace hostsweep::controller {

std::string MetricsText(const SweepReport& /*report*/) { return {}; }

std::unique_ptr<SweepObserver> MakeMetricsFile(const std::filesystem::path& /*path*/) {
  throw UsageError("--metrics is not built yet");
}

std::unique_ptr<SweepObserver> MakeMetricsListener(const std::string& /*address*/) {
  throw UsageError("--metrics-listen is not built yet");
}

}  // namespace hostsweep::controller
