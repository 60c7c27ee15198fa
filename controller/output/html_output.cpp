#include "controller/output/html_output.h"

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "controller/base/address.h"
#include "controller/base/time_text.h"
#include "controller/output/markup.h"
#include "controller/output/row_fields.h"
#include "controller/output/sort_script.h"

namespace hostsweep::controller {
namespace {

constexpr std::string_view kStyle = R"(
body { font: 14px sans-serif; margin: 1.5em; color: #111; background: #fff; }
h1 { font-size: 1.4em; margin: 0 0 .3em; }
.run { color: #444; margin: 0 0 1em; overflow-wrap: anywhere; }
.interrupted { color: #b71c1c; font-weight: bold; }
.legend span { display: inline-block; padding: .1em .6em; margin-right: .4em; }
.network { margin: 1em 0 .2em; font: bold 12px monospace; }
.grid { display: grid; grid-template-columns: repeat(16, auto); gap: 2px; margin: 0 0 1em; width: max-content; }
.grid span { font: 11px monospace; text-align: center; padding: 3px 0; min-width: 2.6em; }
.alive { background: #2e7d32; color: #fff; }
.silent { background: #f9a825; color: #111; }
.dead, .unnamed { background: #e4e4e4; color: #555; }
.no-report { background: #c62828; color: #fff; }
.unchecked { background: #fff; color: #b71c1c; outline: 1px dashed #b71c1c; }
.named { background: #1565c0; color: #fff; }
table { border-collapse: collapse; max-width: 100%; }
th, td { border: 1px solid #bbb; padding: .25em .6em; text-align: left; overflow-wrap: anywhere; }
td.whole { white-space: nowrap; overflow-wrap: normal; }
th { background: #eee; user-select: none; }
.sortable th { cursor: pointer; }
th[data-order=up]::after { content: " \25B2"; }
th[data-order=down]::after { content: " \25BC"; }
td.number { text-align: right; }
@media print {
  body { margin: 0; font-size: 10pt; }
  .grid span, .legend span, th { print-color-adjust: exact; -webkit-print-color-adjust: exact; }
  .sortable th { cursor: auto; }
  tr { break-inside: avoid; }
}
)";

// The CSS class of a state: its text with a hyphen for the space.
std::string StateClass(State state) {
  std::string text(StateText(state));
  for (char& c : text) {
    c = c == ' ' ? '-' : c;
  }
  return text;
}

std::string Cell(std::string_view tag, const std::string& text, std::string_view attributes = {}) {
  return "<" + std::string(tag) + std::string(attributes) + ">" + text + "</" + std::string(tag) +
         ">";
}

// An address's cell in its /24's square of 16 by 16, at its own place
// there: the square's rows always start at a multiple of 16.
std::string GridCell(const HostView& result) {
  constexpr Address kSide = 16;
  const std::string address = FormatAddress(result.address);
  std::string title = address + " " + std::string(StateText(result.state));
  for (const std::string& known : {result.name, result.device.type}) {
    title += known.empty() ? "" : " " + known;
  }
  const Address offset = result.address & 0xFFU;
  return "<span class=\"" + StateClass(result.state) + "\" title=\"" + MarkupText(title) +
         "\" style=\"grid-area: " + std::to_string(offset / kSide + 1) + " / " +
         std::to_string(offset % kSide + 1) + "\">" + std::to_string(offset) + "</span>";
}

// Each /24 swept, in address order, under its own label.
std::string Grids(const std::map<Address, std::string>& cells) {
  std::string grids;
  for (const auto& [network, spans] : cells) {
    grids += "<p class=\"network\">" + FormatAddress(network) + "/24</p>\n<div class=\"grid\">" +
             spans + "</div>\n";
  }
  return grids;
}

// A cell's attributes: a sort key where its text is none (the address, a
// round trip "<1"), the state's colour, numbers to the right.
std::string CellAttributes(std::string_view key, const HostView& result) {
  using namespace json_key;
  // An address or a MAC is read whole: never broken across lines.
  if (key == kAddress) {
    return R"( class="whole" data-key=")" + std::to_string(result.address) + "\"";
  }
  if (key == kMac || key == kIpv6) {
    return R"( class="whole")";
  }
  if (key == kState) {
    return " class=\"" + StateClass(result.state) + "\"";
  }
  const std::string number = R"( class="number")";
  if (key == kRttMs && result.roundTripMs) {
    return number + " data-key=\"" + std::to_string(*result.roundTripMs) + "\"";
  }
  return key == kRttMs || key == kTtl ? number : "";
}

// A field the page shows on some rows only (the inventory's alias) has its
// column once a row has it.
bool OnPage(const RowField& field, const HostView& result) {
  return OnRow(field, result, false, true);
}

std::string TableRow(const HostView& result) {
  std::string row = "<tr>";
  for (const RowField* field : PageFields()) {
    if (!OnPage(*field, result)) {
      continue;
    }
    // The worker counts whole milliseconds: 0 is a reply within the first.
    const bool withinFirst =
        field->key == std::string_view(json_key::kRttMs) && result.roundTripMs == 0;
    row += Cell("td", MarkupText(withinFirst ? "<1" : ColumnText(*field, result)),
                CellAttributes(field->key, result));
  }
  return row + "</tr>\n";
}

class HtmlWriter : public ResultWriter {
 public:
  HtmlWriter(std::ostream& out, SweepRun run) : out_(out), run_(std::move(run)) {}

  void Write(const HostView& result) override {
    // The grid is of the swept IPv4 addresses; a device heard over IPv6
    // alone has a table row only.
    if (!result.ipv6Only) {
      grid_[result.address & ~0xFFU] += GridCell(result);
    }
    rows_ += TableRow(result);
    for (std::size_t i = 0; i < PageFields().size(); ++i) {
      columns_[i] = columns_[i] || OnPage(*PageFields()[i], result);
    }
    Count(result);
  }
  void Skip(const HostView& result) override {
    grid_[result.address & ~0xFFU] += GridCell(result);
    Count(result);
  }

  void Finish(SweepEnd end) override {
    out_ << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         << "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
            "style-src 'unsafe-inline'; script-src '"
         << kSortScriptHash << "'\">\n"
         << "<title>hostsweep: " << MarkupText(run_.commandLine) << "</title>\n<style>" << kStyle
         << "</style>\n</head>\n<body>\n<h1>hostsweep</h1>\n<p class=\"run\"><code>"
         << MarkupText(run_.commandLine) << "</code><br>started " << LocalTimeText(run_.start)
         << "; " << done_ << " of " << run_.addressCount << " addresses swept, " << found_
         << " found</p>\n";
    if (end == SweepEnd::kInterrupted) {
      out_ << "<p class=\"interrupted\">The sweep was interrupted: the addresses not yet done "
              "are left out.</p>\n";
    }
    out_ << "<p class=\"legend\">";
    // Only the states the grid holds: a probe sweep has no named, a quiet
    // one no "no report".
    for (const State state : {State::kAlive, State::kSilent, State::kDead, State::kUnchecked,
                              State::kNoReport, State::kNamed, State::kUnnamed}) {
      if (seen_.contains(state)) {
        out_ << "<span class=\"" << StateClass(state) << "\">" << StateText(state) << "</span>";
      }
    }
    out_ << "</p>\n" << Grids(grid_) << "<table id=\"hosts\">\n<thead><tr>";
    for (std::size_t i = 0; i < PageFields().size(); ++i) {
      out_ << (columns_[i] ? Cell("th", std::string(PageFields()[i]->page.heading)) : "");
    }
    out_ << "</tr></thead>\n<tbody>\n"
         << rows_ << "</tbody>\n</table>\n<script>" << kSortScript
         << "</script>\n</body>\n</html>\n"
         << std::flush;
  }

 private:
  void Count(const HostView& result) {
    ++done_;
    found_ += IsFound(result.state) ? 1 : 0;
    seen_.insert(result.state);
  }

  std::ostream& out_;
  SweepRun run_;
  std::map<Address, std::string> grid_;  // each /24's cells, by its network address
  std::string rows_;
  std::size_t done_ = 0;
  std::size_t found_ = 0;
  // The page's columns that have a cell: those on every row, and those on
  // some once a row has them.
  std::vector<bool> columns_ = [] {
    std::vector<bool> columns;
    for (const RowField* field : PageFields()) {
      columns.push_back(OnPage(*field, HostView{}));
    }
    return columns;
  }();
  std::set<State> seen_;
};

}  // namespace

std::unique_ptr<ResultWriter> MakeHtmlWriter(std::ostream& out, SweepRun run) {
  return std::make_unique<HtmlWriter>(out, std::move(run));
}

}  // namespace hostsweep::controller
