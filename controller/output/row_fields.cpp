#include "controller/output/row_fields.h"

#include <algorithm>
#include <array>

#include "controller/base/errors.h"
#include "controller/base/mac_address.h"
#include "controller/output/markup.h"

namespace hostsweep::controller {
namespace {

using namespace json_key;

std::string Quoted(const char* key) { return std::string("\"") + key + "\""; }

// Null where nothing was known, as older files (and rows of devices that
// said nothing) have it.
std::string TextOrNothing(const Json& value, const char* key) {
  if (value.is_null()) {
    return {};
  }
  if (!value.is_string()) {
    throw EarlierResultsError(Quoted(key) + " is missing or not a string");
  }
  return value.get<std::string>();
}

void ReadAddress(const Json& value, SeenHost& host) {
  if (value.is_null()) {
    throw EarlierResultsError(Quoted(kAddress) + " is missing or not a string");
  }
  const std::string address = TextOrNothing(value, kAddress);
  if (!SetRowAddress(host, address)) {
    throw EarlierResultsError("not an IP address: \"" + address + "\"");
  }
}

void ReadMac(const Json& value, SeenHost& host) {
  const std::string mac = TextOrNothing(value, kMac);
  if (!mac.empty()) {
    host.mac = ParseMac(mac);
    if (!host.mac) {
      throw EarlierResultsError("not a MAC address: \"" + mac + "\"");
    }
  }
}

void ReadMacSharedBy(const Json& value, SeenHost& host) {
  if (value.is_null()) {
    return;
  }
  if (!value.is_number_unsigned()) {
    throw EarlierResultsError(Quoted(kMacSharedBy) + " is not a whole number");
  }
  host.macSharedBy = value.get<std::size_t>();
}

void ReadIpv6(const Json& value, SeenHost& host) {
  if (value.is_null()) {
    return;
  }
  const bool texts = value.is_array() && std::all_of(value.begin(), value.end(),
                                                     [](const Json& a) { return a.is_string(); });
  if (!texts) {
    throw EarlierResultsError(Quoted(kIpv6) + " is not a list of texts");
  }
  for (const Json& address : value) {
    host.deviceIpv6.push_back(address.get<std::string>());
  }
}

// "moved 10.0.0.23": the change and what it was before.
std::string ChangeColumn(const HostView& view) {
  if (!view.change) {
    return {};
  }
  std::string text(ChangeText(view.change->change));
  return view.change->previous.empty() ? text : text + " " + view.change->previous;
}

// A part of the row's change, or of what the inventory says of it: null on a
// row that has none.
Json ChangeValue(const HostView& view, auto part) {
  return view.change ? OrNull(part(*view.change)) : Json(nullptr);
}

Json KnownValue(const HostView& view, auto part) {
  return view.known ? Json(part(*view.known)) : Json(nullptr);
}

// In JSON's order. An entry without `shows` is on every row; without `csv`,
// no CSV column; without a heading, page column or script element, in none.
const std::array<RowField, 25> kRowFields{{
    {.key = kAddress,
     .heading = "ADDRESS",
     .csv = true,
     .value = [](const HostView& v) { return Json(AddressText(v)); },
     .readBack = ReadAddress,
     .page = {"Address", 1}},
    {.key = kState,
     .heading = "STATE",
     .csv = true,
     .value = [](const HostView& v) { return Json(StateText(v.state)); },
     .page = {"State", 2}},
    {.key = kEcho, .value = [](const HostView& v) { return OrNull(v.echo); }},
    {.key = kRttMs,
     .heading = "RTT(ms)",
     .csv = true,
     .value = [](const HostView& v) { return OrNull(v.roundTripMs); },
     .page = {"RTT (ms)", 10}},
    {.key = kTtl,
     .heading = "TTL",
     .csv = true,
     .value = [](const HostView& v) { return OrNull(v.ttl); },
     .page = {"TTL", 11}},
    {.key = kName,
     .heading = "NAME",
     .csv = true,
     .value = [](const HostView& v) { return OrNull(v.name); },
     .readBack = [](const Json& value, SeenHost& host) { host.name = TextOrNothing(value, kName); },
     .page = {"Name", 3}},
    {.key = kMac,
     .heading = "MAC",
     .csv = true,
     .value = [](const HostView& v) { return OrNull(v.mac ? FormatMac(*v.mac) : ""); },
     .readBack = ReadMac,
     .page = {"MAC", 6}},
    {.key = kVendor,
     .heading = "VENDOR",
     .csv = true,
     .value = [](const HostView& v) { return OrNull(v.vendor); },
     .page = {"Maker", 7}},
    {.key = kMacSource,
     .value = [](const HostView& v) { return OrNull(MacSourceText(v.macSource)); },
     .readBack =
         [](const Json& value, SeenHost& host) {
           host.macSource = ValueOf(kMacSourceTexts, TextOrNothing(value, kMacSource))
                                .value_or(MacSource::kNone);
         }},
    {.key = kNetbiosMac, .value = [](const HostView& v) { return OrNull(v.netbiosMac); }},
    {.key = kNameSource,
     .value = [](const HostView& v) { return OrNull(NameSourceText(v.nameSource)); },
     .page = {"Name from", 5}},
    {.key = kWorkgroup, .value = [](const HostView& v) { return OrNull(v.workgroup); }},
    {.key = kEvidence, .value = [](const HostView& v) { return OrNull(EvidenceText(v.evidence)); }},
    {.key = kMacSharedBy,
     .shows = Shows::kWhenSet,
     .value = [](const HostView& v) { return OrNull(v.macSharedBy); },
     .readBack = ReadMacSharedBy},
    {.key = kType,
     .heading = "TYPE",
     .shows = Shows::kWhenDeviceSaid,
     .csv = true,
     .value = [](const HostView& v) { return OrNull(v.device.type); },
     .readBack = [](const Json& value, SeenHost& host) { host.type = TextOrNothing(value, kType); },
     .page = {"Type", 8},
     .xml = {script_table::kDevice, kType}},
    {.key = kMake,
     .shows = Shows::kWhenDeviceSaid,
     .csv = true,
     .value = [](const HostView& v) { return OrNull(v.device.make); },
     .xml = {script_table::kDevice, kMake}},
    {.key = kModel,
     .heading = "MODEL",
     .shows = Shows::kWhenDeviceSaid,
     .csv = true,
     .value = [](const HostView& v) { return OrNull(v.device.model); },
     .column = [](const HostView& v) { return MakeAndModel(v.device); },
     .readBack = [](const Json& value,
                    SeenHost& host) { host.model = TextOrNothing(value, kModel); },
     .page = {"Model", 9},
     .xml = {script_table::kDevice, kModel}},
    {.key = kTypeFrom,
     .shows = Shows::kWhenDeviceSaid,
     .csv = true,
     .value = [](const HostView& v) { return OrNull(TypeSourceText(v.device.typeFrom)); },
     .xml = {script_table::kDevice, kTypeFrom}},
    {.key = kServices,
     .shows = Shows::kWhenDeviceSaid,
     .value = [](const HostView& v) { return Json(v.device.services); },
     .xml = {script_table::kDevice, "service"}},
    {.key = kIpv6,
     .heading = "IPV6",
     .shows = Shows::kWithIpv6,
     .csv = true,
     .value = [](const HostView& v) { return Json(v.ipv6); },
     .readBack = ReadIpv6},
    {.key = kChange,
     .heading = "CHANGE",
     .shows = Shows::kWhenCompared,
     .csv = true,
     .value =
         [](const HostView& v) {
           return ChangeValue(v, [](const RowChange& c) { return ChangeText(c.change); });
         },
     .column = ChangeColumn,
     .xml = {script_table::kChange, kChange}},
    {.key = kPrevious,
     .shows = Shows::kWhenCompared,
     .csv = true,
     .value =
         [](const HostView& v) {
           return ChangeValue(v, [](const RowChange& c) { return c.previous; });
         },
     .xml = {script_table::kChange, kPrevious}},
    {.key = kAlias,
     .heading = "ALIAS",
     .shows = Shows::kWithInventory,
     .csv = true,
     .value =
         [](const HostView& v) {
           return KnownValue(v, [](const KnownFacts& k) { return OrNull(k.alias); });
         },
     .page = {"Alias", 4},
     .xml = {script_table::kKnown, kAlias}},
    {.key = kOwner,
     .shows = Shows::kWithInventory,
     .csv = true,
     .value =
         [](const HostView& v) {
           return KnownValue(v, [](const KnownFacts& k) { return OrNull(k.owner); });
         },
     .xml = {script_table::kKnown, kOwner}},
    {.key = kKnown,
     .shows = Shows::kWithInventory,
     .csv = true,
     .value =
         [](const HostView& v) {
           return KnownValue(v, [](const KnownFacts& k) { return k.known; });
         },
     .xml = {script_table::kKnown, kKnown, true}},
}};

// The columns of old, then each added since after them.
int CsvPlace(Shows shows) {
  switch (shows) {
    case Shows::kWithIpv6:
      return 1;
    case Shows::kWhenCompared:
      return 2;
    case Shows::kWhenDeviceSaid:
      return 3;
    case Shows::kWithInventory:
      return 4;
    case Shows::kAlways:
    case Shows::kWhenSet:
      break;
  }
  return 0;
}

}  // namespace

std::span<const RowField> RowFields() { return kRowFields; }

const std::vector<const RowField*>& CsvFields() {
  static const std::vector<const RowField*> fields = [] {
    std::vector<const RowField*> csv;
    for (const RowField& field : kRowFields) {
      if (field.csv) {
        csv.push_back(&field);
      }
    }
    std::stable_sort(csv.begin(), csv.end(), [](const RowField* a, const RowField* b) {
      return CsvPlace(a->shows) < CsvPlace(b->shows);
    });
    return csv;
  }();
  return fields;
}

const std::vector<const RowField*>& PageFields() {
  static const std::vector<const RowField*> fields = [] {
    std::vector<const RowField*> page;
    for (const RowField& field : kRowFields) {
      if (field.page.place > 0) {
        page.push_back(&field);
      }
    }
    std::sort(page.begin(), page.end(),
              [](const RowField* a, const RowField* b) { return a->page.place < b->page.place; });
    return page;
  }();
  return fields;
}

bool OnRow(const RowField& field, const HostView& view, bool ipv6, bool fixedColumns) {
  switch (field.shows) {
    case Shows::kWhenSet:
      return fixedColumns || !field.value(view).is_null();
    case Shows::kWhenDeviceSaid:
      return fixedColumns || view.device != DeviceFacts{};
    case Shows::kWithIpv6:
      return ipv6;
    case Shows::kWhenCompared:
      return view.change.has_value();
    case Shows::kWithInventory:
      return view.known.has_value();
    case Shows::kAlways:
      break;
  }
  return true;
}

std::string ScriptElements(std::string_view table, const HostView& view) {
  std::string lead;
  std::string elements;
  for (const RowField& field : kRowFields) {
    if (field.xml.table != table) {
      continue;
    }
    const Json value = field.value(view);
    for (const Json& item : value.is_array() ? value : Json::array({value})) {
      const std::string text = FieldText(item);
      if (!text.empty()) {
        (field.xml.leads ? lead : elements) += KeyedElement(field.xml.key, text);
      }
    }
  }
  return lead + elements;
}

std::string FieldText(const Json& value) {
  if (value.is_null()) {
    return {};
  }
  if (value.is_string()) {
    return value.get<std::string>();
  }
  if (value.is_array()) {
    std::string joined;
    for (const Json& item : value) {
      joined += (joined.empty() ? "" : " ") + FieldText(item);
    }
    return joined;
  }
  return value.dump();
}

std::string ColumnText(const RowField& field, const HostView& view) {
  return field.column != nullptr ? field.column(view) : FieldText(field.value(view));
}

}  // namespace hostsweep::controller
