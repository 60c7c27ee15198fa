#include "controller/output.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

#include "common/text.h"
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

// The last two, the IPv6 addresses and the change, only where the sweep
// asked for them.
constexpr std::size_t kColumnCount = 9;
constexpr std::size_t kIpv6Column = 7;
constexpr std::size_t kChangeColumn = 8;
using Columns = std::array<std::string, kColumnCount>;

std::optional<std::string> MacText(const HostView& view) {
  return view.mac ? std::optional(FormatMac(*view.mac)) : std::nullopt;
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string joined;
  for (const auto& text : texts) {
    joined += (joined.empty() ? "" : " ") + text;
  }
  return joined;
}

// "moved 10.0.0.23": the change and what it was before.
std::string ChangeColumn(const RowChange& change) {
  std::string text(ChangeText(change.change));
  return change.previous.empty() ? text : text + " " + change.previous;
}

Columns ColumnsOf(const HostView& view) {
  return {AddressText(view),
          std::string(StateText(view.state)),
          OptionalText(view.roundTripMs),
          OptionalText(view.ttl),
          view.name,
          MacText(view).value_or(""),
          view.vendor,
          Joined(view.ipv6),
          view.change ? ChangeColumn(*view.change) : std::string{}};
}

// JSON keeps a name's exact text, but a control or direction character left
// raw would act in the terminal or the page that shows the line: each becomes
// its JSON escape. Outside strings a JSON line holds none, so the whole line
// can go through.
std::string EscapeControls(std::string_view json) {
  return ReplaceControls(json, [](std::uint32_t point) {
    std::array<char, sizeof("\\uFFFF")> escape{};
    std::snprintf(escape.data(), escape.size(), "\\u%04x", static_cast<unsigned>(point));
    return std::string(escape.data());
  });
}

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

class JsonWriter : public ResultWriter {
 public:
  JsonWriter(std::ostream& out, bool ipv6) : out_(out), ipv6_(ipv6) {}
  void Write(const HostView& view) override { out_ << JsonLine(view, ipv6_) << '\n' << std::flush; }
  void Finish(SweepEnd /*end*/) override {}

 private:
  std::ostream& out_;
  bool ipv6_;
};

class TableWriter : public ResultWriter {
 public:
  TableWriter(std::ostream& out, std::optional<std::size_t> terminalWidth, bool compared)
      : out_(out), terminalWidth_(terminalWidth), compared_(compared) {}
  void Write(const HostView& view) override { views_.push_back(view); }
  void Finish(SweepEnd /*end*/) override {
    out_ << Table(views_, terminalWidth_, compared_) << std::flush;
  }

 private:
  std::ostream& out_;
  std::optional<std::size_t> terminalWidth_;
  bool compared_;
  std::vector<HostView> views_;
};

constexpr std::size_t kRoundTripColumn = 2;
constexpr std::size_t kNameColumn = 4;
constexpr std::size_t kVendorColumn = 6;
constexpr std::size_t kColumnGap = 2;
// Narrower than this, a cut name or maker says too little to be worth it.
constexpr std::size_t kNarrowestCut = 8;
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // U+2026

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0U) == 0x80; }

// Terminal columns taken, one per character (every byte that starts one).
std::size_t DisplayWidth(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return !IsContinuationByte(c); }));
}

std::string CutToWidth(const std::string& text, std::size_t width) {
  if (DisplayWidth(text) <= width) {
    return text;
  }
  std::size_t end = 0;
  for (std::size_t kept = 0; end < text.size(); ++end) {
    if (!IsContinuationByte(text[end]) && kept++ == width - 1) {
      break;
    }
  }
  return text.substr(0, end) + std::string(kEllipsis);
}

// Cuts the name and maker columns so that the rows fit `terminalWidth`. The
// name matters more: the maker gives way first, down to a third of the room
// the two share, and the name only then.
// Columns left out have no width.
void FitColumns(std::vector<Columns>& rows, std::array<std::size_t, kColumnCount>& widths,
                std::size_t shownCount, std::size_t terminalWidth) {
  std::size_t fixed = kColumnGap * (shownCount - 1);
  for (std::size_t i = 0; i < kColumnCount; ++i) {
    fixed += i == kNameColumn || i == kVendorColumn ? 0 : widths[i];
  }
  const std::size_t room = std::max(terminalWidth, fixed + 2 * kNarrowestCut) - fixed;
  const std::size_t name = widths[kNameColumn];
  const std::size_t vendor = widths[kVendorColumn];
  if (name + vendor <= room) {
    return;
  }
  const std::size_t vendorKept = std::min(vendor, std::max(kNarrowestCut, room / 3));
  widths[kNameColumn] = std::min(name, room - vendorKept);
  widths[kVendorColumn] = room - widths[kNameColumn];
  for (auto& row : rows) {
    row[kNameColumn] = CutToWidth(row[kNameColumn], widths[kNameColumn]);
    row[kVendorColumn] = CutToWidth(row[kVendorColumn], widths[kVendorColumn]);
  }
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
  return "address,state,rtt_ms,ttl,name,mac,vendor" + std::string(extra.ipv6 ? ",ipv6" : "") +
         std::string(extra.change ? ",change,previous" : "") + std::string(kCsvLineEnd);
}

std::string CsvRow(const HostView& view, bool ipv6) {
  auto columns = ColumnsOf(view);
  std::vector<std::string> fields(columns.begin(), columns.begin() + kIpv6Column);
  if (ipv6) {
    fields.push_back(columns[kIpv6Column]);
  }
  if (view.change) {
    fields.emplace_back(ChangeText(view.change->change));
    fields.push_back(view.change->previous);
  }
  std::string row;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    row += (i > 0 ? "," : "") + CsvField(fields[i]);
  }
  return row + std::string(kCsvLineEnd);
}

std::string JsonLine(const HostView& view, bool ipv6) {
  nlohmann::ordered_json line;
  line["address"] = AddressText(view);
  line["state"] = StateText(view.state);
  line["echo"] = OrNull(view.echo);
  line["rtt_ms"] = OrNull(view.roundTripMs);
  line["ttl"] = OrNull(view.ttl);
  line["name"] = OrNull(NonEmpty(view.name));
  line["mac"] = OrNull(MacText(view));
  line["vendor"] = OrNull(NonEmpty(view.vendor));
  line["mac_source"] = OrNull(NonEmpty(std::string(MacSourceText(view.macSource))));
  line["netbios_mac"] = OrNull(NonEmpty(view.netbiosMac));
  line["name_source"] = OrNull(NonEmpty(std::string(NameSourceText(view.nameSource))));
  line["workgroup"] = OrNull(NonEmpty(view.workgroup));
  line["evidence"] = OrNull(NonEmpty(std::string(EvidenceText(view.evidence))));
  // Only where it says something, so that every other row keeps its keys.
  if (view.macSharedBy) {
    line["mac_shared_by"] = *view.macSharedBy;
  }
  if (ipv6) {
    line["ipv6"] = view.ipv6;
  }
  if (view.change) {
    line["change"] = OrNull(NonEmpty(std::string(ChangeText(view.change->change))));
    line["previous"] = OrNull(NonEmpty(view.change->previous));
  }
  // Names (and makers) arrive in the system's code page, not always UTF-8: such bytes
  // become U+FFFD rather than failing the sweep.
  return EscapeControls(
      line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

std::string Table(const std::vector<HostView>& views, std::optional<std::size_t> terminalWidth,
                  bool compared) {
  const Columns header{"ADDRESS", "STATE",  "RTT(ms)", "TTL",   "NAME",
                       "MAC",     "VENDOR", "IPV6",    "CHANGE"};
  std::array<bool, kColumnCount> shown{};
  shown.fill(true);
  shown[kIpv6Column] = std::any_of(views.begin(), views.end(),
                                   [](const HostView& view) { return !view.ipv6.empty(); });
  shown[kChangeColumn] = compared;
  std::vector<Columns> rows{header};
  for (const auto& view : views) {
    auto columns = ColumnsOf(view);
    for (auto& column : columns) {
      column = Printable(column);
    }
    // The worker counts whole milliseconds: 0 is a reply within the first.
    if (terminalWidth && view.roundTripMs == 0) {
      columns[kRoundTripColumn] = "<1";
    }
    rows.push_back(std::move(columns));
  }
  // Piped output keeps its byte widths, as scripts have always read it.
  const auto width = [&](const std::string& text) {
    return terminalWidth ? DisplayWidth(text) : text.size();
  };
  std::array<std::size_t, kColumnCount> widths{};
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < kColumnCount; ++i) {
      widths[i] = shown[i] ? std::max(widths[i], width(row[i])) : 0;
    }
  }
  if (terminalWidth) {
    FitColumns(rows, widths, static_cast<std::size_t>(std::count(shown.begin(), shown.end(), true)),
               *terminalWidth);
  }
  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < kColumnCount; ++i) {
      if (!shown[i]) {
        continue;
      }
      line += row[i];
      line += std::string(widths[i] - width(row[i]) + kColumnGap, ' ');
    }
    table += std::string(TrimEnd(line, " ")) + "\n";
  }
  return table;
}

std::unique_ptr<ResultWriter> MakeWriter(Format format, std::ostream& out,
                                         std::optional<std::size_t> terminalWidth,
                                         ExtraColumns extra) {
  switch (format) {
    case Format::kCsv:
      return std::make_unique<CsvWriter>(out, extra);
    case Format::kJson:
      return std::make_unique<JsonWriter>(out, extra.ipv6);
    case Format::kTable:
      break;
  }
  return std::make_unique<TableWriter>(out, terminalWidth, extra.change);
}

void ResultStream::WriteReady(const ResultBook& book) {
  const auto& results = book.Results();
  while (next_ < results.size() && book.Ready(next_)) {
    WriteOne(results[next_++]);
  }
}

void ResultStream::Finish(const ResultBook& book, SweepEnd end, const std::vector<HostView>& more) {
  const auto& results = book.Results();
  for (; next_ < results.size(); ++next_) {
    if (results[next_].probe.state != State::kPending) {
      WriteOne(results[next_]);
    }
  }
  for (const HostView& view : more) {
    WriteView(view);
  }
  for (ResultWriter* writer : writers_) {
    writer->Finish(end);
  }
}

void ResultStream::WriteOne(const HostResult& result) { WriteView(ViewOf(result, vendorOf_)); }

void ResultStream::WriteView(const HostView& view) {
  const bool shown = !foundOnly_ || IsFound(view.state);
  for (ResultWriter* writer : writers_) {
    if (shown) {
      writer->Write(view);
    } else {
      writer->Skip(view);
    }
  }
}

}  // namespace hostsweep::controller
