#include "controller/output.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>
#include <optional>

#include "controller/printable.h"

namespace hostsweep::controller {
namespace {

constexpr std::string_view kCsvLineEnd = "\r\n";

std::string OptionalText(const auto& value) {
  return value ? std::to_string(*value) : std::string{};
}

nlohmann::ordered_json OrNull(const auto& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

std::optional<std::string> NonEmpty(const std::string& text) {
  return text.empty() ? std::nullopt : std::optional(text);
}

// A spreadsheet reads a cell that starts with one of these as a formula.
constexpr std::string_view kFormulaStarts = "=+-@\t\r";

using Columns = std::array<std::string, 7>;

Columns ColumnsOf(const HostResult& result) {
  return {FormatAddress(result.address),
          std::string(StateText(result.state)),
          OptionalText(result.roundTripMs),
          OptionalText(result.ttl),
          result.name,
          result.mac,
          result.vendor};
}

// What the worker's echo requests found; a silent host's was "dead".
std::optional<std::string_view> EchoVerdict(State state) {
  switch (state) {
    case State::kAlive:
      return "alive";
    case State::kDead:
    case State::kSilent:
      return "dead";
    case State::kPending:
    case State::kNamed:
    case State::kUnnamed:
    case State::kNoReport:
      break;
  }
  return std::nullopt;
}

std::optional<std::string_view> MacSourceText(MacSource source) {
  switch (source) {
    case MacSource::kNeighbour:
      return "neighbour";
    case MacSource::kArp:
      return "arp";
    case MacSource::kNetbios:
      return "netbios";
    case MacSource::kNone:
      break;
  }
  return std::nullopt;
}

class CsvWriter : public ResultWriter {
 public:
  explicit CsvWriter(std::ostream& out) : out_(out) { out_ << CsvHeader() << std::flush; }
  void Write(const HostResult& result) override { out_ << CsvRow(result) << std::flush; }
  void Finish() override {}

 private:
  std::ostream& out_;
};

class JsonWriter : public ResultWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}
  void Write(const HostResult& result) override { out_ << JsonLine(result) << '\n' << std::flush; }
  void Finish() override {}

 private:
  std::ostream& out_;
};

class TableWriter : public ResultWriter {
 public:
  explicit TableWriter(std::ostream& out) : out_(out) {}
  void Write(const HostResult& result) override { results_.push_back(result); }
  void Finish() override { out_ << Table(results_) << std::flush; }

 private:
  std::ostream& out_;
  std::vector<HostResult> results_;
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

std::string CsvHeader() {
  return "address,state,rtt_ms,ttl,name,mac,vendor" + std::string(kCsvLineEnd);
}

std::string CsvRow(const HostResult& result) {
  std::string row;
  for (const auto& column : ColumnsOf(result)) {
    if (!row.empty()) {
      row += ',';
    }
    row += CsvField(column);
  }
  return row + std::string(kCsvLineEnd);
}

std::string JsonLine(const HostResult& result) {
  nlohmann::ordered_json line;
  line["address"] = FormatAddress(result.address);
  line["state"] = StateText(result.state);
  line["echo"] = OrNull(EchoVerdict(result.state));
  line["rtt_ms"] = OrNull(result.roundTripMs);
  line["ttl"] = OrNull(result.ttl);
  line["name"] = OrNull(NonEmpty(result.name));
  line["mac"] = OrNull(NonEmpty(result.mac));
  line["vendor"] = OrNull(NonEmpty(result.vendor));
  line["mac_source"] = OrNull(MacSourceText(result.macSource));
  line["netbios_mac"] = OrNull(NonEmpty(result.netbiosMac));
  line["name_source"] = OrNull(NonEmpty(std::string(NameSourceText(result.nameSource))));
  line["workgroup"] = OrNull(NonEmpty(result.workgroup));
  line["evidence"] = OrNull(NonEmpty(std::string(EvidenceText(result.evidence))));
  // Names (and makers) arrive in the system's code page, not always UTF-8: such bytes
  // become U+FFFD rather than failing the sweep.
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string Table(const std::vector<HostResult>& results) {
  const Columns header{"ADDRESS", "STATE", "RTT(ms)", "TTL", "NAME", "MAC", "VENDOR"};
  std::vector<Columns> rows{header};
  for (const auto& result : results) {
    auto columns = ColumnsOf(result);
    for (auto& column : columns) {
      column = Printable(column);
    }
    rows.push_back(std::move(columns));
  }
  std::array<std::size_t, header.size()> widths{};
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    table += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
  }
  return table;
}

std::unique_ptr<ResultWriter> MakeWriter(Format format, std::ostream& out) {
  switch (format) {
    case Format::kCsv:
      return std::make_unique<CsvWriter>(out);
    case Format::kJson:
      return std::make_unique<JsonWriter>(out);
    case Format::kTable:
      break;
  }
  return std::make_unique<TableWriter>(out);
}

}  // namespace hostsweep::controller
