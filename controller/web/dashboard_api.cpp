#include "controller/web/dashboard_api.h"

#include <algorithm>
#include <array>
#include <utility>

#include "controller/base/enum_text.h"
#include "controller/base/time_text.h"
#include "controller/events/event.h"
#include "controller/history/missing_devices.h"
#include "controller/model/json_fields.h"
#include "controller/state/history_output.h"
#include "controller/state/history_query.h"
#include "controller/state/schema.h"

namespace hostsweep::controller {
namespace {

SeenHost HostOfRow(std::string_view address, std::string_view mac) {
  SeenHost host{.mac = ParseMac(mac)};
  SetRowAddress(host, address);
  return host;
}

// What the inventory says of the device a row of the database is.
KnownFacts FactsOf(const Inventory* inventory, std::string_view address, std::string_view mac) {
  const KnownDevice* device = DeviceOf(inventory, HostOfRow(address, mac));
  return device != nullptr ? device->facts : KnownFacts{};
}

// Present since its session began; away since it was last seen.
Json DeviceFields(const DeviceHistory& device, std::int64_t since, const Inventory* inventory) {
  using namespace json_key;
  const KnownDevice* known = DeviceOf(inventory, HostOfRow(device.address, device.mac));
  const KnownFacts facts = known != nullptr ? known->facts : KnownFacts{};
  Json entry;
  entry[kId] = device.id;
  entry[kAddress] = device.address;
  entry[kName] = OrNull(device.name);
  entry[kMac] = OrNull(device.mac);
  entry[kVendor] = OrNull(device.vendor);
  entry[kType] = OrNull(device.type);
  entry[kModel] = OrNull(device.model);
  entry[kAlias] = OrNull(facts.alias);
  entry[kOwner] = OrNull(facts.owner);
  entry[kKnown] = facts.known;
  // What the page's form edits.
  entry[kExpect] = OrNull(ExpectText(facts.expect));
  entry[kNote] = known != nullptr ? OrNull(known->note) : Json(nullptr);
  entry[kAwayAfter] = facts.awayAfter > 0 ? Json(facts.awayAfter) : Json(nullptr);
  entry[kPresent] = device.present;
  entry[kMissing] = !device.present && facts.expect == Expect::kAlways;
  entry[kSince] = UtcText(since);
  entry[kFirstSeen] = UtcText(device.firstSeen);
  entry[kLastSeen] = UtcText(device.lastSeen);
  return entry;
}

// The event of the row `rows` stands on (EventsAfter's query's columns).
Event EventOfRow(const Statement& rows, const Inventory* inventory) {
  Event event{.id = rows.Integer(0),
              .time = rows.Integer(1),
              .kind = ValueOf(kChangeTexts, rows.Text(2)).value_or(Change::kNone),
              .device = rows.Integer(3),
              .host = {.name = rows.Text(5), .mac = ParseMac(rows.Text(6))},
              .vendor = rows.Text(7),
              .known = FactsOf(inventory, rows.Text(4), rows.Text(6)),
              .previous = rows.Text(8),
              .firstSeen = rows.Integer(9),
              .lastSeen = rows.Integer(10)};
  SetRowAddress(event.host, rows.Text(4));
  event.host.type = rows.Text(11);
  event.host.model = rows.Text(12);
  if (event.kind == Change::kConflict || event.kind == Change::kConflictEnded) {
    event.conflict = LinkConflict{.mac = event.host.mac.value_or(MacAddress{})};
    if (const auto other = ParseMac(rows.Text(13))) {
      event.conflict->address = event.host.address;
      event.conflict->otherMac = other;
    } else {
      event.conflict->addresses = static_cast<std::size_t>(rows.Integer(14));
    }
  }
  return event;
}

// The DNS-SD services it announced, oldest first: [{"type", "first_seen",
// "last_seen"}], last_seen null for those of now. A file no watch has
// brought up to date since keeps none.
Json ServicesJson(Database& database, std::int64_t id) {
  using namespace json_key;
  Json list = Json::array();
  if (database.Format() < kFirstFormatWithServices) {
    return list;
  }
  const auto rows = database.Prepare(
      "SELECT type, first_seen, last_seen FROM device_services WHERE device = ?1 "
      "ORDER BY first_seen, type");
  rows->Bind(1, id);
  while (rows->Step()) {
    list.push_back(
        {{kType, rows->Text(0)},
         {kFirstSeen, UtcText(rows->Integer(1))},
         {kLastSeen, rows->IsNull(2) ? Json(nullptr) : Json(UtcText(rows->Integer(2)))}});
  }
  return list;
}

}  // namespace

std::string DevicesJson(Database& database, const Inventory* inventory) {
  // Present: since its open session began; away: since last seen.
  const auto rows = database.Prepare(
      "SELECT d.id, d.address, d.name, d.mac, d.vendor, d.type, d.model, d.present, "
      "d.first_seen, d.last_seen, "
      "CASE WHEN d.present THEN (SELECT max(began) FROM sessions WHERE device = d.id) "
      "ELSE d.last_seen END "
      "FROM devices d ORDER BY d.first_seen, d.id");
  // Each device's text joined as it is read: no tree of every device is
  // built, nor torn down.
  std::string list = "[";
  while (rows->Step()) {
    const DeviceHistory device{.id = rows->Integer(0),
                               .address = rows->Text(1),
                               .name = rows->Text(2),
                               .mac = rows->Text(3),
                               .vendor = rows->Text(4),
                               .type = rows->Text(5),
                               .model = rows->Text(6),
                               .present = rows->Integer(7) != 0,
                               .firstSeen = rows->Integer(8),
                               .lastSeen = rows->Integer(9)};
    if (list.size() > 1) {
      list += ',';
    }
    list += JsonText(DeviceFields(device, rows->Integer(10), inventory));
  }
  return list + "]";
}

std::optional<std::string> DeviceJson(Database& database, std::int64_t id,
                                      const Inventory* inventory) {
  using namespace json_key;
  const auto device = DeviceById(database, id);
  if (!device) {
    return std::nullopt;
  }
  const bool open = !device->sessions.empty() && !device->sessions.back().ended;
  Json entry =
      DeviceFields(*device, open ? device->sessions.back().began : device->lastSeen, inventory);
  entry[kSessions] = SessionsJson(device->sessions);
  entry[kAddresses] = PastValuesJson(device->addresses);
  entry[kNames] = PastValuesJson(device->names);
  entry[kMacs] = PastValuesJson(device->macs);
  entry[kServices] = ServicesJson(database, id);
  constexpr std::size_t kEventsShown = 500;
  Json events = Json::array();
  for (const EventText& event : EventsAfter(database, std::nullopt, kEventsShown, inventory, id)) {
    events.push_back(Json::parse(event.json));
  }
  entry[kEvents] = std::move(events);
  return JsonText(entry);
}

std::optional<SeenHost> DeviceHost(Database& database, std::int64_t id) {
  const auto rows = database.Prepare("SELECT address, mac FROM devices WHERE id = ?1");
  rows->Bind(1, id);
  if (!rows->Step()) {
    return std::nullopt;
  }
  return HostOfRow(rows->Text(0), rows->Text(1));
}

std::optional<KnownEditRequest> KnownEditOf(std::string_view body) {
  const Json asked = Json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (!asked.is_object() || !asked.contains("device") || !asked["device"].is_number_integer()) {
    return std::nullopt;
  }
  KnownEditRequest request{.device = asked["device"].get<std::int64_t>()};
  KnownFactsEdit& facts = request.facts;
  const std::array<std::pair<const char*, std::string*>, 5> fields{
      {{"alias", &facts.alias},
       {"owner", &facts.owner},
       {"expect", &facts.expect},
       {"away_after", &facts.awayAfter},
       {"note", &facts.note}}};
  for (const auto& [key, value] : fields) {
    if (!asked.contains(key) || !asked[key].is_string()) {
      return std::nullopt;
    }
    *value = asked[key].get<std::string>();
  }
  return request;
}

std::vector<EventText> EventsAfter(Database& database, std::optional<std::int64_t> after,
                                   std::size_t most, const Inventory* inventory,
                                   std::optional<std::int64_t> device) {
  // Newest first without `after`, so that the limit keeps the newest; turned
  // oldest first below.
  // A file no watch has brought up to date since has no conflicts.
  const char* conflictColumns =
      database.Format() >= kFirstFormatWithConflicts ? "e.other_mac, e.addresses " : "NULL, NULL ";
  const auto rows = database.Prepare(
      std::string("SELECT e.id, e.time, e.change, e.device, e.address, e.name, e.mac, e.vendor, "
                  "e.previous, e.first_seen, e.last_seen, coalesce(d.type, ''), "
                  "coalesce(d.model, ''), ") +
      conflictColumns +
      // A conflict's event may name no device.
      "FROM events e LEFT JOIN devices d ON d.id = e.device WHERE e.id > ?1 " +
      // Spelled out, not left to a bound value, so that a device's events
      // are read through events_by_device alone.
      (device ? "AND e.device = ?2 " : "") + "ORDER BY e.id " + (after ? "ASC" : "DESC") +
      " LIMIT ?3");
  rows->Bind(1, after.value_or(0));
  if (device) {
    rows->Bind(2, *device);
  }
  rows->Bind(3, static_cast<std::int64_t>(most));
  std::vector<EventText> events;
  while (rows->Step()) {
    const Event event = EventOfRow(*rows, inventory);
    events.push_back({event.id, EventJson(event)});
  }
  if (!after) {
    std::reverse(events.begin(), events.end());
  }
  return events;
}

std::string EventsJson(const std::vector<EventText>& events) {
  std::string text = "[";
  for (const EventText& event : events) {
    text += (text.size() > 1 ? "," : "") + event.json;
  }
  return text + "]";
}

}  // namespace hostsweep::controller
