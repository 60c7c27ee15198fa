// The result formats: an aligned table, CSV (RFC 4180) and JSON lines.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "controller/results.h"

namespace hostsweep::controller {

enum class Format { kTable, kCsv, kJson };

std::string CsvField(std::string_view text);
// With `compared` (--compare), two more columns: change and previous.
std::string CsvHeader(bool compared = false);
std::string CsvRow(const HostView& view);
// One JSON object with every key present, in a fixed order; absent values are
// null. A compared row ends with "change" and "previous".
std::string JsonLine(const HostView& view);
// Aligned columns. For a terminal `terminalWidth` columns wide, the name and
// maker are cut to fit (ending in an ellipsis) and a round trip under 1 ms
// reads "<1"; without it (piped output) every value is whole.
// With `compared`, a CHANGE column last.
std::string Table(const std::vector<HostView>& views,
                  std::optional<std::size_t> terminalWidth = std::nullopt, bool compared = false);

// How a sweep ended, for the formats that record it.
enum class SweepEnd { kComplete, kInterrupted };

// Writes results in the order given; CSV and JSON write each result at once,
// the table waits for all of them to size its columns.
class ResultWriter {
 public:
  virtual ~ResultWriter() = default;
  virtual void Write(const HostView& view) = 0;
  // A finished result that is not shown (--alive), for formats that count
  // every address swept.
  virtual void Skip(const HostView& /*view*/) {}
  virtual void Finish(SweepEnd end) = 0;
};

std::unique_ptr<ResultWriter> MakeWriter(Format format, std::ostream& out,
                                         std::optional<std::size_t> terminalWidth = std::nullopt,
                                         bool compared = false);

}  // namespace hostsweep::controller
