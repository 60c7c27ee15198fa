#include "controller/inventory/known_edit.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "controller/inventory/inventory.h"
#include "controller/inventory/inventory_csv.h"

namespace hostsweep::controller {
namespace {

// One row of the file as its bytes are: what it says, and the line end
// that closes it ("" for a last line without one).
struct RawRow {
  std::string_view bytes;  // the row with its line end
  std::string text;        // as KnownRow joins it
  std::string_view end;
};

std::string_view LineEnd(std::string_view bytes) {
  if (bytes.ends_with("\r\n")) {
    return "\r\n";
  }
  return bytes.ends_with('\n') ? "\n" : "";
}

std::vector<RawRow> RawRows(std::string_view text) {
  std::vector<RawRow> rows;
  std::size_t number = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    std::string row = KnownRow(text, at, number);
    const std::string_view bytes = text.substr(start, std::min(at, text.size()) - start);
    rows.push_back({bytes, std::move(row), LineEnd(bytes)});
  }
  return rows;
}

std::string JoinedFields(const std::vector<std::string>& fields) {
  std::string row;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    row += (i > 0 ? "," : "") + KnownField(fields[i]);
  }
  return row;
}

// The data row (blank lines aside, numbered from 0) the inventory finds
// `device` on; none when it knows no such device.
std::optional<std::size_t> DeviceRow(std::string_view text, const SeenHost& device) {
  const Inventory inventory = ParseInventory(text);
  const KnownDevice* found = inventory.Find(device);
  if (found == nullptr) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(found - inventory.Devices().data());
}

}  // namespace

std::string EditedKnownText(std::string_view text, const SeenHost& device,
                            const KnownFactsEdit& facts) {
  const std::optional<std::size_t> edited = DeviceRow(text, device);
  const std::string_view mark = text.starts_with(kKnownByteOrderMark) ? kKnownByteOrderMark : "";
  std::vector<RawRow> rows = RawRows(text.substr(mark.size()));
  std::vector<std::string> header = KnownFields(rows.front().text);
  auto awayAfter = std::find(header.begin(), header.end(), kAwayAfterColumn);
  const bool addColumn = awayAfter == header.end() && !facts.awayAfter.empty();
  if (addColumn) {
    header.emplace_back(kAwayAfterColumn);
  }
  const auto awayColumn = static_cast<std::size_t>(
      std::find(header.begin(), header.end(), kAwayAfterColumn) - header.begin());

  const auto filled = [&](std::vector<std::string> fields) {
    fields.resize(std::max(fields.size(), header.size()));
    fields[kKnownAlias] = facts.alias;
    fields[kKnownOwner] = facts.owner;
    fields[kKnownExpect] = facts.expect;
    fields[kKnownNote] = facts.note;
    if (awayColumn < header.size()) {
      fields[awayColumn] = facts.awayAfter;
    }
    return fields;
  };

  std::string out(mark);
  std::size_t data = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const RawRow& row = rows[i];
    const std::string content(row.bytes.substr(0, row.bytes.size() - row.end.size()));
    const std::string added = !addColumn ? "" : i == 0 ? "," + std::string(kAwayAfterColumn) : ",";
    if (i > 0 && row.text.empty()) {
      out += row.bytes;
      continue;
    }
    if (i > 0 && data++ == edited) {
      const std::vector<std::string> before = KnownFields(row.text);
      const std::vector<std::string> after = filled(before);
      // Unchanged, a row keeps its own quoting.
      out += (after == before ? content : JoinedFields(after)) + std::string(row.end);
    } else {
      out += content + added + std::string(row.end);
    }
  }
  if (!edited) {
    const std::string_view end = rows.front().end.empty() ? "\n" : rows.front().end;
    if (!out.ends_with('\n')) {
      out += end;
    }
    std::vector<std::string> fields(header.size());
    fields[kKnownMac] = device.mac ? FormatMac(*device.mac) : "";
    fields[kKnownAddress] = AddressText(device);
    out += JoinedFields(filled(fields)) + std::string(end);
  }
  ParseInventory(out);
  return out;
}

}  // namespace hostsweep::controller
