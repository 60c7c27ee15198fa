#include "controller/output/result_writer.h"

#include "controller/output/csv_output.h"
#include "controller/output/json_output.h"
#include "controller/output/table_output.h"

namespace hostsweep::controller {

std::unique_ptr<ResultWriter> MakeWriter(Format format, std::ostream& out,
                                         std::optional<std::size_t> terminalWidth,
                                         ExtraColumns extra) {
  switch (format) {
    case Format::kCsv:
      return MakeCsvWriter(out, extra);
    case Format::kJson:
      return MakeJsonWriter(out, extra.ipv6);
    case Format::kTable:
      break;
  }
  return MakeTableWriter(out, terminalWidth, extra.change);
}

}  // namespace hostsweep::controller
