// The fields of a row, once: each one's key, its heading, how it is taken
// from the row, when it shows, and how a reader of an earlier sweep takes it
// back. Every format writes a row by this table and the readers of earlier
// sweeps read one back by it: a new field is one entry of it.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "controller/base/results.h"
#include "controller/model/json_fields.h"
#include "controller/model/seen_host.h"

namespace hostsweep::controller {

// When a field is on a row.
enum class Shows {
  kAlways,
  kWhenSet,         // only where it says something (JSON); on every CSV row
  kWhenDeviceSaid,  // only for a device that said what it is (JSON); on every CSV row
  kWithIpv6,        // with --ipv6
  kWhenCompared,    // on a row compared with an earlier sweep (--compare)
  kWithInventory,   // on a row the inventory (--known) has a say on
};

// A column of the HTML page: its heading and its place among the page's
// columns, from 1 (none: not on the page).
struct PageColumn {
  std::string_view heading{};
  int place = 0;
};

// The tables of the XML host script that carry a row's fields, by their key.
namespace script_table {
inline constexpr std::string_view kDevice = "hostsweep-services";
inline constexpr std::string_view kChange = "hostsweep-change";
inline constexpr std::string_view kKnown = "hostsweep-known";
}  // namespace script_table

// Where the XML document carries a field: an element of a host script's
// table, one for each value of a list, none where it is empty.
struct ScriptElement {
  std::string_view table{};  // empty: not there
  const char* key = "";
  bool leads = false;  // its table's first element, whatever its place here
};

struct RowField {
  const char* key;  // as JSON, CSV's header and the readers name it
  // The table's heading; empty for a field the table has no column for.
  std::string_view heading{};
  Shows shows = Shows::kAlways;
  bool csv = false;  // a CSV column
  // As JSON writes it: null where nothing is known.
  Json (*value)(const HostView& view);
  // The text of its table and page column where it is not the value's
  // (FieldText): a column that shows this field with others.
  std::string (*column)(const HostView& view) = nullptr;
  // Takes the value a JSON line or state file has for the key (null where it
  // has none) back into the host; none for a field nothing reads back.
  // Throws EarlierResultsError for a value no writer of ours writes.
  void (*readBack)(const Json& value, SeenHost& host) = nullptr;
  PageColumn page{};
  ScriptElement xml{};
};

// In JSON's order, which the table's columns keep too.
std::span<const RowField> RowFields();
// CSV's columns in their order: those of old first, so that readers by
// position keep them.
const std::vector<const RowField*>& CsvFields();
// The page's columns in their order.
const std::vector<const RowField*>& PageFields();

// Whether `field` is on the row: as JSON writes it, or with
// `fixedColumns` as CSV does, where a column is on every row the options give
// it to. `ipv6` is --ipv6.
bool OnRow(const RowField& field, const HostView& view, bool ipv6, bool fixedColumns);

// The elements of the host script's `table`: each of its fields' values.
std::string ScriptElements(std::string_view table, const HostView& view);

// A value as text: empty for null, lists joined by spaces.
std::string FieldText(const Json& value);
// The field's text in a column of the table or the page.
std::string ColumnText(const RowField& field, const HostView& view);

}  // namespace hostsweep::controller
