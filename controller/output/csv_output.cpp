#include "controller/output/csv_output.h"

#include "controller/base/printable.h"
#include "controller/output/row_fields.h"

namespace hostsweep::controller {

namespace {

// A spreadsheet reads a cell that starts with one of these as a formula.
constexpr std::string_view kFormulaStarts = "=+-@\t\r";

class CsvWriter : public ResultWriter {
 public:
  CsvWriter(std::ostream& out, ExtraColumns extra) : out_(out), ipv6_(extra.ipv6) {
    out_ << CsvHeader(extra) << std::flush;
  }
  void Write(const HostView& view) override { out_ << CsvRow(view, ipv6_) << std::flush; }
  void Finish(SweepEnd /*end*/) override {}

 private:
  std::ostream& out_;
  bool ipv6_;
};

// The header names every column the sweep's rows may have.
bool InHeader(Shows shows, ExtraColumns extra) {
  switch (shows) {
    case Shows::kWithIpv6:
      return extra.ipv6;
    case Shows::kWhenCompared:
      return extra.change;
    case Shows::kWithInventory:
      return extra.known;
    case Shows::kAlways:
    case Shows::kWhenSet:
    case Shows::kWhenDeviceSaid:
      break;
  }
  return true;
}

}  // namespace

std::string CsvField(std::string_view text) {
  // Host names come from the network: whoever opens the file must see them as
  // text, never run them as a formula or meet a terminal control in them.
  std::string field = Printable(text);
  if (!text.empty() && kFormulaStarts.find(text.front()) != std::string_view::npos) {
    field.insert(0, 1, '\'');
  }
  if (field.find_first_of(",\"") == std::string::npos) {
    return field;
  }
  std::string quoted = "\"";
  for (const char c : field) {
    quoted += c == '"' ? "\"\"" : std::string(1, c);
  }
  return quoted + "\"";
}

std::string CsvHeader(ExtraColumns extra) {
  std::string header;
  for (const RowField* field : CsvFields()) {
    if (InHeader(field->shows, extra)) {
      header += (header.empty() ? "" : ",") + std::string(field->key);
    }
  }
  return header + std::string(kCsvLineEnd);
}

std::string CsvRow(const HostView& view, bool ipv6) {
  std::vector<std::string> fields;
  for (const RowField* field : CsvFields()) {
    if (OnRow(*field, view, ipv6, true)) {
      fields.push_back(FieldText(field->value(view)));
    }
  }
  return CsvLine(fields);
}

std::string CsvLine(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    line += (i > 0 ? "," : "") + CsvField(fields[i]);
  }
  return line + std::string(kCsvLineEnd);
}

std::unique_ptr<ResultWriter> MakeCsvWriter(std::ostream& out, ExtraColumns extra) {
  return std::make_unique<CsvWriter>(out, extra);
}

}  // namespace hostsweep::controller
