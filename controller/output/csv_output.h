// CSV (RFC 4180), one row per host as soon as it is in.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "controller/output/result_writer.h"

namespace hostsweep::controller {

// RFC 4180's line end, after the header and every row.
inline constexpr std::string_view kCsvLineEnd = "\r\n";

std::string CsvField(std::string_view text);
// The fields as one CSV line, each quoted and guarded as CsvField does.
std::string CsvLine(const std::vector<std::string>& fields);
// With `ipv6` (--ipv6), CSV rows have an ipv6 field (the addresses joined by
// spaces) and JSON objects an "ipv6" list. A compared row (one with a change)
// ends with its change and what it was before: two more CSV fields, or the
// "change" and "previous" keys. Every CSV row ends with what the device said
// it is: its type, make, model and the evidence the type rests on, empty where
// it said nothing.
std::string CsvHeader(ExtraColumns extra = {});
std::string CsvRow(const HostView& view, bool ipv6 = false);
std::unique_ptr<ResultWriter> MakeCsvWriter(std::ostream& out, ExtraColumns extra);

}  // namespace hostsweep::controller
