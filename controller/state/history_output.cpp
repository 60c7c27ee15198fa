#include "controller/state/history_output.h"

#include "controller/base/printable.h"
#include "controller/base/time_text.h"
#include "controller/inventory/inventory.h"
#include "controller/model/json_fields.h"
#include "controller/output/csv_output.h"

namespace hostsweep::controller {
namespace {

template <typename Item, typename Text>
std::string Joined(const std::vector<Item>& items, Text text, std::string_view between) {
  std::string joined;
  for (const Item& item : items) {
    joined += (joined.empty() ? "" : std::string(between)) + text(item);
  }
  return joined;
}

std::string TableEntry(const DeviceHistory& device, const KnownDevice* row, TimeZone zone) {
  const auto time = [zone](std::int64_t seconds) { return TimeText(seconds, zone); };
  const auto sessionText = [&time](const Session& session) {
    return time(session.began) + " to " + (session.ended ? time(*session.ended) : "now");
  };
  const auto valueText = [&time](const PastValue& value) {
    return value.value + " (" + time(value.firstSeen) + " to " + time(value.lastSeen) + ")";
  };
  std::string first = device.address;
  const std::string alias = row != nullptr ? row->facts.alias : "";
  for (const std::string* field : {&device.name, &alias, &device.mac, &device.vendor}) {
    if (!field->empty()) {
      first += "  " + *field;
    }
  }
  std::string entry = Printable(first + (device.present ? "  present" : "  away")) + "\n";
  entry += "  first seen " + time(device.firstSeen) + ", last seen " + time(device.lastSeen) + "\n";
  entry += "  sessions: " + Joined(device.sessions, sessionText, ", ") + "\n";
  const std::array<std::pair<const char*, const std::vector<PastValue>*>, 3> lists{
      {{"addresses", &device.addresses}, {"names", &device.names}, {"macs", &device.macs}}};
  for (const auto& [label, values] : lists) {
    if (!values->empty()) {
      entry +=
          std::string("  ") + label + ": " + Printable(Joined(*values, valueText, ", ")) + "\n";
    }
  }
  return entry;
}

// The inventory's row for the device, when it has one.
const KnownDevice* RowOf(const DeviceHistory& device, const Inventory* inventory) {
  if (inventory == nullptr) {
    return nullptr;
  }
  SeenHost host{.mac = ParseMac(device.mac)};
  SetRowAddress(host, device.address);
  return inventory->Find(host);
}

// An inventory's six columns first, the user's own from --known where a row
// has them (away_after last): the output is an inventory to edit, and read
// back (--known) it gives the same bytes again.
std::string CsvEntry(const DeviceHistory& device, const KnownDevice* inventoryRow) {
  const auto value = [](const PastValue& past) { return past.value; };
  const auto session = [](const Session& s) {
    return UtcText(s.began) + "/" + (s.ended ? UtcText(*s.ended) : "");
  };
  const KnownDevice none;
  const KnownDevice& known = inventoryRow != nullptr ? *inventoryRow : none;
  return CsvLine({device.mac, device.address, known.facts.alias, known.facts.owner,
                  std::string(ExpectText(known.facts.expect)), known.note, device.name,
                  device.vendor, device.present ? "yes" : "no", UtcText(device.firstSeen),
                  UtcText(device.lastSeen), Joined(device.sessions, session, " "),
                  Joined(device.addresses, value, " "), Joined(device.names, value, "; "),
                  Joined(device.macs, value, " "), DurationText(known.facts.awayAfter)});
}

std::string JsonEntry(const DeviceHistory& device, const KnownDevice* row) {
  using namespace json_key;
  Json entry;
  entry[kMac] = OrNull(device.mac);
  entry[kAddress] = device.address;
  entry[kName] = OrNull(device.name);
  if (row != nullptr) {
    entry[kAlias] = OrNull(row->facts.alias);
    entry[kOwner] = OrNull(row->facts.owner);
  }
  entry[kVendor] = OrNull(device.vendor);
  entry[kPresent] = device.present;
  entry[kFirstSeen] = UtcText(device.firstSeen);
  entry[kLastSeen] = UtcText(device.lastSeen);
  entry[kSessions] = SessionsJson(device.sessions);
  entry[kAddresses] = PastValuesJson(device.addresses);
  entry[kNames] = PastValuesJson(device.names);
  entry[kMacs] = PastValuesJson(device.macs);
  return JsonText(entry) + "\n";
}

}  // namespace

Json SessionsJson(const std::vector<Session>& sessions) {
  using namespace json_key;
  Json list = Json::array();
  for (const Session& session : sessions) {
    list.push_back({{kBegan, UtcText(session.began)},
                    {kEnded, session.ended ? Json(UtcText(*session.ended)) : Json(nullptr)}});
  }
  return list;
}

Json PastValuesJson(const std::vector<PastValue>& values) {
  Json list = Json::array();
  for (const PastValue& past : values) {
    list.push_back({{json_key::kValue, past.value},
                    {json_key::kFirstSeen, UtcText(past.firstSeen)},
                    {json_key::kLastSeen, UtcText(past.lastSeen)}});
  }
  return list;
}

std::string HistoryHeader(Format format) {
  if (format != Format::kCsv) {
    return {};
  }
  return "mac,address,alias,owner,expect,note,name,vendor,present,first_seen,last_seen,sessions,"
         "addresses,names,macs,away_after" +
         std::string(kCsvLineEnd);
}

std::string HistoryEntry(const DeviceHistory& device, Format format, const Inventory* inventory,
                         TimeZone tableZone) {
  const KnownDevice* row = RowOf(device, inventory);
  switch (format) {
    case Format::kCsv:
      return CsvEntry(device, row);
    case Format::kJson:
      return JsonEntry(device, row);
    case Format::kTable:
      break;
  }
  return TableEntry(device, row, tableZone);
}

}  // namespace hostsweep::controller
