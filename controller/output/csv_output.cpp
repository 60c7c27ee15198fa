#include "controller/output/csv_output.h"

#include "controller/base/printable.h"
#include "controller/output/columns.h"

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
  return "address,state,rtt_ms,ttl,name,mac,vendor" + std::string(extra.ipv6 ? ",ipv6" : "") +
         std::string(extra.change ? ",change,previous" : "") + ",type,make,model,type_from" +
         std::string(extra.known ? ",alias,owner,known" : "") + std::string(kCsvLineEnd);
}

std::string CsvRow(const HostView& view, bool ipv6) {
  auto columns = ColumnsOf(view);
  std::vector<std::string> fields(columns.begin(), columns.begin() + kTypeColumn);
  if (ipv6) {
    fields.push_back(columns[kIpv6Column]);
  }
  if (view.change) {
    fields.emplace_back(ChangeText(view.change->change));
    fields.push_back(view.change->previous);
  }
  // After the columns of old, so that readers of them by position keep them.
  fields.insert(fields.end(), {view.device.type, view.device.make, view.device.model,
                               std::string(TypeSourceText(view.device.typeFrom))});
  if (view.known) {
    fields.push_back(view.known->alias);
    fields.push_back(view.known->owner);
    fields.emplace_back(view.known->known ? "true" : "false");
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
