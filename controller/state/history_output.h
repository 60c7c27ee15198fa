// --history's devices as a table (a block per device), CSV or JSON lines.
// The CSV's first columns are mac,address, as an inventory's are.
#pragma once

#include <string>

#include "controller/output/result_writer.h"
#include "controller/state/history_query.h"

namespace hostsweep::controller {

// Empty for a format without one.
std::string HistoryHeader(Format format);
std::string HistoryEntry(const DeviceHistory& device, Format format);

}  // namespace hostsweep::controller
