// Results as nmap's XML output (format 1.05) of a host-discovery scan, so that
// ndiff, nmap's stylesheet and the inventory tools that import nmap XML read
// a sweep as they read a scan of their own.
#pragma once

#include <memory>
#include <ostream>

#include "controller/output/result_stream.h"
#include "controller/output/sweep_run.h"

namespace hostsweep::controller {

// Writes the document's head at once, each host as it comes (flushed, so an
// interrupted sweep leaves every host written so far) and the run's end on
// Finish, which closes the document whichever way the sweep ended.
std::unique_ptr<ResultWriter> MakeXmlWriter(std::ostream& out, SweepRun run);

}  // namespace hostsweep::controller
