// The name-only request: the host name of one address, reported alone.
#pragma once

#include "common/request_line.h"

namespace hostsweep {

// Looks up the name of the address in field 2 and reports it alone. Any
// failure ends the process at once, without a message and without a report.
void ReportNameOnly(const Fields& fields);

}  // namespace hostsweep
