// --metrics FILE and --metrics-listen ADDR:PORT: the network's state in
// Prometheus's text format, after each sweep.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "controller/events/sweep_report.h"

namespace hostsweep::controller {

// The report as Prometheus's text exposition format.
std::string MetricsText(const SweepReport& report);

// Rewrites `path` whole after each sweep (node_exporter's textfile
// collector never reads half a file).
std::unique_ptr<SweepObserver> MakeMetricsFile(const std::filesystem::path& path);

// Serves GET /metrics on `address` ("PORT", "ADDR:PORT", "[V6]:PORT"; the
// loopback address when none is given) from the last sweep's report, between
// sweeps and during them. Throws UsageError for an address it cannot take,
// SystemError when it cannot listen there.
std::unique_ptr<SweepObserver> MakeMetricsListener(const std::string& address);

}  // namespace hostsweep::controller
