// JSON lines, one object per host as soon as it is in.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "controller/output/result_writer.h"

namespace hostsweep::controller {

// One JSON object with every key present, in a fixed order; absent values are
// null. A device that said what it is adds "type", "make", "model",
// "type_from" and "services" (a list) after "evidence", so that the rows of
// devices that said nothing keep the keys they always had.
std::string JsonLine(const HostView& view, bool ipv6 = false);
std::unique_ptr<ResultWriter> MakeJsonWriter(std::ostream& out, bool ipv6);

}  // namespace hostsweep::controller
