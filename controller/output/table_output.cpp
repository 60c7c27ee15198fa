#include "controller/output/table_output.h"

#include <algorithm>

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
// Piped, a name is cut to this many characters, ending in kPipedCut, so that
// one long name does not push every row's MAC and maker off a pager's screen;
// CSV, JSON and XML keep it whole. ASCII, for readers that take no UTF-8.
constexpr std::size_t kPipedNameWidth = 40;
constexpr std::string_view kPipedCut = "...";

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0U) == 0x80; }

// Terminal columns taken, one per character (every byte that starts one).
std::size_t DisplayWidth(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return !IsContinuationByte(c); }));
}

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

// Cuts the name, maker and alias columns so that the rows fit
// `terminalWidth`. The name matters more: the maker gives way first, down to
// a third of the room they share, then the alias, down to a quarter, and the
// name only then. Columns left out have no width.
void FitColumns(std::vector<Columns>& rows, std::array<std::size_t, kColumnCount>& widths,
                std::size_t shownCount, std::size_t terminalWidth) {
  std::size_t fixed = kColumnGap * (shownCount - 1);
  for (std::size_t i = 0; i < kColumnCount; ++i) {
    fixed += i == kNameColumn || i == kVendorColumn || i == kAliasColumn ? 0 : widths[i];
  }
  const std::size_t alias = widths[kAliasColumn];
  const std::size_t cutCount = alias > 0 ? 3 : 2;
  const std::size_t left = terminalWidth > fixed ? terminalWidth - fixed : 0;
  const std::size_t narrowest = std::clamp(left / cutCount, kShortestCut, kNarrowestCut);
  const std::size_t room = std::max(left, cutCount * narrowest);
  const std::size_t name = widths[kNameColumn];
  const std::size_t vendor = widths[kVendorColumn];
  if (name + vendor + alias <= room) {
    return;
  }
  const std::size_t vendorKept = std::min(vendor, std::max(narrowest, room / 3));
  const std::size_t aliasKept = std::min(alias, std::max(narrowest, room / 4));
  widths[kNameColumn] = std::min(name, room - vendorKept - aliasKept);
  widths[kAliasColumn] = std::min(alias, room - widths[kNameColumn] - vendorKept);
  widths[kVendorColumn] = room - widths[kNameColumn] - widths[kAliasColumn];
  for (auto& row : rows) {
    for (const std::size_t cut : {kNameColumn, kVendorColumn, kAliasColumn}) {
      row[cut] = CutToWidth(row[cut], widths[cut]);
    }
  }
}

}  // namespace

std::string Table(const std::vector<HostView>& views, std::optional<std::size_t> terminalWidth,
                  bool compared) {
  const Columns header{"ADDRESS", "STATE",  "RTT(ms)", "TTL",    "NAME",
                       "MAC",     "VENDOR", "IPV6",    "CHANGE", "ALIAS"};
  std::array<bool, kColumnCount> shown{};
  shown.fill(true);
  shown[kIpv6Column] = std::any_of(views.begin(), views.end(),
                                   [](const HostView& view) { return !view.ipv6.empty(); });
  shown[kChangeColumn] = compared;
  shown[kAliasColumn] = std::any_of(views.begin(), views.end(), [](const HostView& view) {
    return view.known && !view.known->alias.empty();
  });
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
    if (!terminalWidth) {
      for (const std::size_t cut : {kNameColumn, kAliasColumn}) {
        columns[cut] = CutToWidth(columns[cut], kPipedNameWidth, kPipedCut);
      }
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

std::unique_ptr<ResultWriter> MakeTableWriter(std::ostream& out,
                                              std::optional<std::size_t> terminalWidth,
                                              bool compared) {
  return std::make_unique<TableWriter>(out, terminalWidth, compared);
}

}  // namespace hostsweep::controller
