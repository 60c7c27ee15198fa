#include <iostream>
#include <set>

#include "controller/base/printable.h"
#include "controller/notify/metrics.h"
#include "controller/system/replaced_file.h"

namespace hostsweep::controller {
namespace {

// A file that cannot be written costs the watch nothing but the file: each
// kind of failure is said once, not after every sweep of a long watch.
class MetricsFile : public SweepObserver {
 public:
  explicit MetricsFile(std::filesystem::path path) : path_(std::move(path)) {}

  void SweepEnded(const SweepReport& report) override {
    const auto failure = ReplaceWholeFile(path_, MetricsText(report));
    if (!failure.step.empty() && said_.insert(failure.step).second) {
      std::cerr << "hostsweep: --metrics: cannot " << failure.step << ' ' << Printable(failure.why)
                << " (not said again)\n";
    }
  }

 private:
  std::filesystem::path path_;
  std::set<std::string> said_;
};

}  // namespace

std::unique_ptr<SweepObserver> MakeMetricsFile(const std::filesystem::path& path) {
  return std::make_unique<MetricsFile>(path);
}

}  // namespace hostsweep::controller
