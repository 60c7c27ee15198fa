// --web: the live dashboard. A page of our own, its JSON API and, in a
// watch, the metrics, read from the state database on threads of their own:
// no request ever waits for a sweep, nor a sweep for a request.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "controller/events/sweep_report.h"

namespace hostsweep::controller {

struct DashboardSettings {
  std::string address;   // --web: PORT, ADDR:PORT or [V6]:PORT
  std::string password;  // --web-password as given ("@FILE"); empty: none
  // --web-cert and --web-key: PEM files; HTTPS with both, HTTP without.
  std::string certificate{};
  std::string key{};
  std::filesystem::path stateFile;
  // --known: read again when it changes, and where the page's edits go;
  // empty: none, and the page is read-only.
  std::string knownFile{};
  bool watch = false;  // this process sweeps: /metrics shows its last sweep
};

// Listens at once and serves until destroyed; shown each recorded sweep for
// /metrics. Throws UsageError for an address or password it refuses (a
// non-loopback address needs a password), SystemError when it cannot listen,
// and UsageError in a build without the HTTP library (Windows).
std::unique_ptr<SweepObserver> StartDashboard(const DashboardSettings& settings);

}  // namespace hostsweep::controller
