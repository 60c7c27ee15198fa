#include "controller/output/table_output.h"

#include <algorithm>
#include <iterator>

#include "common/text.h"
#include "controller/base/printable.h"
#include "controller/output/row_fields.h"

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

// The fields the table has a column for, in its order.
const std::vector<const RowField*>& TableFields() {
  static const std::vector<const RowField*> fields = [] {
    std::vector<const RowField*> table;
    for (const RowField& field : RowFields()) {
      if (!field.heading.empty()) {
        table.push_back(&field);
      }
    }
    return table;
  }();
  return fields;
}

std::size_t ColumnOf(std::string_view key) {
  const auto& fields = TableFields();
  return static_cast<std::size_t>(
      std::find_if(fields.begin(), fields.end(),
                   [key](const RowField* field) { return field->key == key; }) -
      fields.begin());
}

using Columns = std::vector<std::string>;

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
using Widths = std::vector<std::size_t>;

// The columns cut to fit a terminal, the name last among equals: it matters more.
const std::array<std::size_t, 5>& CutColumns() {
  using namespace json_key;
  static const std::array<std::size_t, 5> columns{
      ColumnOf(kVendor), ColumnOf(kType), ColumnOf(kModel), ColumnOf(kAlias), ColumnOf(kName)};
  return columns;
}

bool IsCut(std::size_t column) {
  return std::find(CutColumns().begin(), CutColumns().end(), column) != CutColumns().end();
}

// The width of every column that is never cut, and of the gaps.
std::size_t UncutWidth(const Widths& widths, std::size_t shownCount) {
  std::size_t fixed = kColumnGap * (shownCount - 1);
  for (std::size_t i = 0; i < widths.size(); ++i) {
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
  std::copy_if(CutColumns().begin(), CutColumns().end(), std::back_inserter(cut),
               [&widths](std::size_t column) { return widths[column] > 0; });
  const std::size_t fixed = UncutWidth(widths, shownCount);
  const std::size_t free = terminalWidth > fixed ? terminalWidth - fixed : 0;
  const std::size_t narrowest = std::clamp(free / cut.size(), kShortestCut, kNarrowestCut);
  // Each cut column's value widths, ascending.
  Widths floor(widths.size());
  std::vector<std::vector<std::size_t>> values(widths.size());
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
    return column == ColumnOf(json_key::kName) ? 2 * cutValues : cutValues;
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
  using namespace json_key;
  std::vector<Columns> rows;
  for (const auto& view : views) {
    Columns columns;
    for (const RowField* field : TableFields()) {
      columns.push_back(Printable(ColumnText(*field, view)));
    }
    // The worker counts whole milliseconds: 0 is a reply within the first.
    if (terminal && view.roundTripMs == 0) {
      columns[ColumnOf(kRttMs)] = "<1";
    }
    if (!terminal) {
      for (const std::size_t column : {ColumnOf(kName), ColumnOf(kModel), ColumnOf(kAlias)}) {
        columns[column] = CutToWidth(columns[column], kPipedNameWidth, kPipedCut);
      }
    }
    rows.push_back(std::move(columns));
  }
  return rows;
}

// The columns that have something to show: those a field shows when it has
// something, when a row has it; CHANGE when `compared`.
std::vector<bool> ShownColumns(const std::vector<HostView>& views, bool terminal, bool compared) {
  std::vector<bool> shown;
  for (const RowField* field : TableFields()) {
    shown.push_back(field->shows == Shows::kAlways ||
                    (field->shows == Shows::kWhenCompared
                         ? compared
                         : std::any_of(views.begin(), views.end(), [field](const HostView& view) {
                             return !ColumnText(*field, view).empty();
                           })));
  }
  // Piped, TYPE and MODEL both or neither, as scripts have always read the
  // table, shown when a device said its type or model; on a terminal an empty
  // column's header is not worth its room.
  if (!terminal) {
    const bool said = std::any_of(views.begin(), views.end(), [](const HostView& view) {
      return !view.device.type.empty() || !view.device.model.empty();
    });
    shown[ColumnOf(json_key::kType)] = said;
    shown[ColumnOf(json_key::kModel)] = said;
  }
  return shown;
}

}  // namespace

std::string Table(const std::vector<HostView>& views, std::optional<std::size_t> terminalWidth,
                  bool compared) {
  using namespace json_key;
  Columns header;
  for (const RowField* field : TableFields()) {
    header.emplace_back(field->heading);
  }
  auto shown = ShownColumns(views, terminalWidth.has_value(), compared);
  std::vector<Columns> rows = ShownRows(views, terminalWidth.has_value());
  rows.insert(rows.begin(), header);
  // Piped output keeps its byte widths, as scripts have always read it.
  const auto width = [&](const std::string& text) {
    return terminalWidth ? DisplayWidth(text) : text.size();
  };
  Widths widths(header.size());
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < widths.size(); ++i) {
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
      std::count_if(CutColumns().begin(), CutColumns().end(),
                    [&shown](std::size_t column) { return shown[column]; }));
  const std::array<std::size_t, 2> device{ColumnOf(kType), ColumnOf(kModel)};
  if (terminalWidth && (shown[device[0]] || shown[device[1]]) &&
      UncutWidth(widths, shownCount()) + cutCount * kNarrowestCut > *terminalWidth) {
    for (const std::size_t column : device) {
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
    for (std::size_t i = 0; i < widths.size(); ++i) {
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
