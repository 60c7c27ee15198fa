// The result formats: an aligned table, CSV (RFC 4180) and JSON lines.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "controller/results.h"

namespace hostsweep::controller {

enum class Format { kTable, kCsv, kJson };

std::string CsvField(std::string_view text);
std::string CsvHeader();
std::string CsvRow(const HostView& view);
// One JSON object with every key present, in a fixed order; absent values are null.
std::string JsonLine(const HostView& view);
std::string Table(const std::vector<HostView>& views);

// Writes results in the order given; CSV and JSON write each result at once,
// the table waits for all of them to size its columns.
class ResultWriter {
 public:
  virtual ~ResultWriter() = default;
  virtual void Write(const HostView& view) = 0;
  virtual void Finish() = 0;
};

std::unique_ptr<ResultWriter> MakeWriter(Format format, std::ostream& out);

}  // namespace hostsweep::controller
