#include "controller/output/table_output.h"

#include <algorithm>
#include <iterator>

#include "common/text.h"
#include "controller/base/printable.h"
#include "controller/output/columns.h"

namespace hostsweep::controller {

namespace {

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
// Narrower than this, a cut name or maker says too little to be worth it,
// unless the terminal leaves no more: never narrower than the shortest.
constexpr std::size_t kNarrowestCut = 8;
constexpr std::size_t kShortestCut = 4;
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // U+2026
// Piped, a name (and a device's model, an alias) is cut to this many
// characters, ending in kPipedCut, so that one long name does not push every
// row's MAC and maker off a pager's screen; CSV, JSON and XML keep it whole.
// ASCII, for readers that take no UTF-8.
constexpr std::size_t kPipedNameWidth = 40;
constexpr std::string_view kPipedCut = "...";

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0U) == 0x80; }

// `text` cut to `width` characters, `cut` (as wide as its bytes) ending it.
std::string CutToWidth(const std::string& text, std::size_t width,
                       std::string_view cut = kEllipsis) {
  if (DisplayWidth(text) <= width) {
    return text;
  }
  const std::size_t keep = width - DisplayWidth(cut);
  std::size_t end = 0;
  for (std::size_t kept = 0; end < text.size(); ++end) {
    if (!IsContinuationByte(text[end]) && kept++ == keep) {
      break;
    }
  }
  return text.substr(0, end) + std::string(cut);
}

// Columns left out have no width.
using Widths = std::array<std::size_t, kColumnCount>;

// The columns cut to fit a terminal, the name last among equals: it matters more.
constexpr std::array<std::size_t, 5> kCutColumns{kVendorColumn, kTypeColumn, kModelColumn,
                                                 kAliasColumn, kNameColumn};

bool IsCut(std::size_t column) {
  return std::find(kCutColumns.begin(), kCutColumns.end(), column) != kCutColumns.end();
}

// The width of every column that is never cut, and of the gaps.
std::size_t UncutWidth(const Widths& widths, std::size_t shownCount) {
  std::size_t fixed = kColumnGap * (shownCount - 1);
  for (std::size_t i = 0; i < kColumnCount; ++i) {
    fixed += IsCut(i) ? 0 : widths[i];
  }
  return fixed;
}

// Narrows the name, maker, type, model and alias columns, from the widths of their
// widest values, until the rows fit `terminalWidth`, a character at a time
// where it cuts the fewest values: a column with one long value (a model
// most devices do not say) gives way before one whose every row is long.
// A name's cut counts double. No column is cut below kNarrowestCut, or, on a
// terminal with too little room for that, below kShortestCut.
void FitColumns(std::vector<Columns>& rows, Widths& widths, std::size_t shownCount,
                std::size_t terminalWidth) {
  std::vector<std::size_t> cut;
  std::copy_if(kCutColumns.begin(), kCutColumns.end(), std::back_inserter(cut),
               [&widths](std::size_t column) { return widths[column] > 0; });
  const std::size_t fixed = UncutWidth(widths, shownCount);
  const std::size_t free = terminalWidth > fixed ? terminalWidth - fixed : 0;
  const std::size_t narrowest = std::clamp(free / cut.size(), kShortestCut, kNarrowestCut);
  // Each cut column's value widths, ascending.
  Widths floor{};
  std::array<std::vector<std::size_t>, kColumnCount> values;
  std::size_t total = 0;
  for (const std::size_t column : cut) {
    for (const auto& row : rows) {
      values[column].push_back(DisplayWidth(row[column]));
    }
    std::sort(values[column].begin(), values[column].end());
    floor[column] = std::min(widths[column], narrowest);
    total += widths[column];
  }
  // The values one column less would cut further: those as wide as the column.
  const auto cost = [&](std::size_t column) {
    const auto& widthsIn = values[column];
    const auto cutValues = static_cast<std::size_t>(
        widthsIn.end() - std::lower_bound(widthsIn.begin(), widthsIn.end(), widths[column]));
    return column == kNameColumn ? 2 * cutValues : cutValues;
  };
  while (total > free) {
    std::optional<std::size_t> cheapest;
    for (const std::size_t column : cut) {
      if (widths[column] > floor[column] && (!cheapest || cost(column) < cost(*cheapest))) {
        cheapest = column;
      }
    }
    if (!cheapest) {
      break;
    }
    --widths[*cheapest];
    --total;
  }
  for (auto& row : rows) {
    for (const std::size_t column : cut) {
      row[column] = CutToWidth(row[column], widths[column]);
    }
  }
}

// Each host's columns as the table shows them: masked, a round trip under
// 1 ms "<1" on a terminal, a long name and model cut when piped.
std::vector<Columns> ShownRows(const std::vector<HostView>& views, bool terminal) {
  std::vector<Columns> rows;
  for (const auto& view : views) {
    auto columns = ColumnsOf(view);
    for (auto& column : columns) {
      column = Printable(column);
    }
    // The worker counts whole milliseconds: 0 is a reply within the first.
    if (terminal && view.roundTripMs == 0) {
      columns[kRoundTripColumn] = "<1";
    }
    if (!terminal) {
      for (const std::size_t column : {kNameColumn, kModelColumn, kAliasColumn}) {
        columns[column] = CutToWidth(columns[column], kPipedNameWidth, kPipedCut);
      }
    }
    rows.push_back(std::move(columns));
  }
  return rows;
}

// The columns that have something to show: TYPE and MODEL when a device
// said what it is, IPV6 when a host has an address, ALIAS when a row has one.
std::array<bool, kColumnCount> ShownColumns(const std::vector<HostView>& views, bool terminal,
                                            bool compared) {
  std::array<bool, kColumnCount> shown{};
  shown.fill(true);
  shown[kIpv6Column] = std::any_of(views.begin(), views.end(),
                                   [](const HostView& view) { return !view.ipv6.empty(); });
  shown[kChangeColumn] = compared;
  const auto anyDevice = [&views](auto said) {
    return std::any_of(views.begin(), views.end(),
                       [&said](const HostView& view) { return !said(view.device).empty(); });
  };
  const bool anyType = anyDevice([](const DeviceFacts& device) { return device.type; });
  const bool anyModel = anyDevice([](const DeviceFacts& device) { return device.model; });
  // Piped, both or neither, as scripts have always read the table; on a
  // terminal an empty column's header is not worth its room.
  shown[kTypeColumn] = terminal ? anyType : anyType || anyModel;
  shown[kModelColumn] = terminal ? anyDevice(MakeAndModel) : shown[kTypeColumn];
  shown[kAliasColumn] = std::any_of(views.begin(), views.end(), [](const HostView& view) {
    return view.known && !view.known->alias.empty();
  });
  return shown;
}

}  // namespace

std::string Table(const std::vector<HostView>& views, std::optional<std::size_t> terminalWidth,
                  bool compared) {
  const Columns header{"ADDRESS", "STATE", "RTT(ms)", "TTL",  "NAME",   "MAC",
                       "VENDOR",  "TYPE",  "MODEL",   "IPV6", "CHANGE", "ALIAS"};
  auto shown = ShownColumns(views, terminalWidth.has_value(), compared);
  std::vector<Columns> rows = ShownRows(views, terminalWidth.has_value());
  rows.insert(rows.begin(), header);
  // Piped output keeps its byte widths, as scripts have always read it.
  const auto width = [&](const std::string& text) {
    return terminalWidth ? DisplayWidth(text) : text.size();
  };
  Widths widths{};
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < kColumnCount; ++i) {
      widths[i] = shown[i] ? std::max(widths[i], width(row[i])) : 0;
    }
  }
  const auto shownCount = [&] {
    return static_cast<std::size_t>(std::count(shown.begin(), shown.end(), true));
  };
  // A terminal too narrow to give each column that may be cut a few
  // characters beside the others leaves the type and model out: the other
  // formats carry them.
  const auto cutCount = static_cast<std::size_t>(
      std::count_if(kCutColumns.begin(), kCutColumns.end(),
                    [&shown](std::size_t column) { return shown[column]; }));
  if (terminalWidth && (shown[kTypeColumn] || shown[kModelColumn]) &&
      UncutWidth(widths, shownCount()) + cutCount * kNarrowestCut > *terminalWidth) {
    for (const std::size_t column : {kTypeColumn, kModelColumn}) {
      shown[column] = false;
      widths[column] = 0;
    }
  }
  if (terminalWidth) {
    FitColumns(rows, widths, shownCount(), *terminalWidth);
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

std::unique_ptr<ResultWriter> MakeTableWriter(std::ostream& out,
                                              std::optional<std::size_t> terminalWidth,
                                              bool compared) {
  return std::make_unique<TableWriter>(out, terminalWidth, compared);
}

}  // namespace hostsweep::controller
