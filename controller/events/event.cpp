#include "controller/events/event.h"

#include <stdexcept>
#include <utility>

#include "controller/base/printable.h"
#include "controller/base/time_text.h"
#include "controller/model/json_fields.h"

namespace hostsweep::controller {
namespace {

std::string TextOr(const Json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) {
    return {};
  }
  return found->get<std::string>();
}

std::int64_t Time(const Json& object, const char* key) {
  const auto seconds = UtcSeconds(object.at(key).get<std::string>());
  if (!seconds) {
    throw std::invalid_argument("not a time");
  }
  return *seconds;
}

}  // namespace

Event EventOf(const WatchEvent& told, std::string vendor, KnownFacts known) {
  return {.id = told.id,
          .time = told.when,
          .kind = told.change,
          .device = told.record,
          .host = told.host,
          .vendor = std::move(vendor),
          .known = std::move(known),
          .previous = told.previous,
          .firstSeen = told.firstSeen,
          .lastSeen = told.lastSeen};
}

Json EventDeviceFields(const Event& event) {
  using namespace json_key;
  Json device;
  device[kId] = event.device;
  device[kAddress] = AddressText(event.host);
  device[kName] = OrNull(event.host.name);
  device[kMac] = OrNull(event.host.mac ? FormatMac(*event.host.mac) : std::string{});
  device[kVendor] = OrNull(event.vendor);
  device[kType] = OrNull(event.host.type);
  device[kModel] = OrNull(event.host.model);
  device[kSeenBy] = OrNull(event.host.seenBy ? SeenByText(*event.host.seenBy) : "");
  device[kAlias] = OrNull(event.known.alias);
  device[kOwner] = OrNull(event.known.owner);
  device[kKnown] = event.known.known;
  device[kFirstSeen] = UtcText(event.firstSeen);
  device[kLastSeen] = UtcText(event.lastSeen);
  return device;
}

std::string EventJson(const Event& event) {
  using namespace json_key;
  Json line;
  line[kId] = event.id;
  line[kTime] = UtcText(event.time);
  line[kKind] = ChangeText(event.kind);
  line[kDevice] = EventDeviceFields(event);
  line[kPrevious] = OrNull(event.previous);
  return JsonText(line);
}

std::optional<Event> ParseEventJson(std::string_view text) {
  using namespace json_key;
  try {
    const Json line = Json::parse(text);
    const Json& device = line.at(kDevice);
    const auto kind = ValueOf(kChangeTexts, line.at(kKind).get<std::string>());
    if (!kind) {
      return std::nullopt;
    }
    Event event{.id = line.at(kId).get<std::int64_t>(),
                .time = Time(line, kTime),
                .kind = *kind,
                .device = device.at(kId).get<std::int64_t>(),
                .vendor = TextOr(device, kVendor),
                .known = {.known = device.at(kKnown).get<bool>(),
                          .alias = TextOr(device, kAlias),
                          .owner = TextOr(device, kOwner)},
                .previous = TextOr(line, kPrevious),
                .firstSeen = Time(device, kFirstSeen),
                .lastSeen = Time(device, kLastSeen)};
    if (!SetRowAddress(event.host, device.at(kAddress).get<std::string>())) {
      return std::nullopt;
    }
    event.host.name = TextOr(device, kName);
    const std::string mac = TextOr(device, kMac);
    event.host.mac = ParseMac(mac);
    if (!mac.empty() && !event.host.mac) {
      return std::nullopt;
    }
    event.host.type = TextOr(device, kType);
    event.host.model = TextOr(device, kModel);
    // Events queued before it was told have none.
    event.host.seenBy = ValueOf(kSeenByTexts, TextOr(device, kSeenBy));
    return event;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string EventSummary(const Event& event) {
  std::string line = std::string(ChangeText(event.kind)) + ": " + AddressText(event.host);
  const std::string& who = event.known.alias.empty() ? event.host.name : event.known.alias;
  if (!who.empty()) {
    line += " " + who;
  }
  if (event.host.mac) {
    line += " (" + FormatMac(*event.host.mac);
    if (!event.vendor.empty()) {
      line += " " + event.vendor;
    }
    line += ")";
  }
  if (!event.known.owner.empty()) {
    line += ", owner " + event.known.owner;
  }
  if (!event.previous.empty()) {
    line += ", was " + event.previous;
  }
  return Printable(line);
}

std::vector<std::pair<std::string, std::string>> EventEnvironment(const Event& event) {
  return {{"HOSTSWEEP_EVENT_ID", std::to_string(event.id)},
          {"HOSTSWEEP_EVENT_KIND", std::string(ChangeText(event.kind))},
          {"HOSTSWEEP_EVENT_ADDRESS", AddressText(event.host)},
          {"HOSTSWEEP_EVENT_MAC", event.host.mac ? FormatMac(*event.host.mac) : ""},
          {"HOSTSWEEP_EVENT_NAME", event.host.name},
          {"HOSTSWEEP_EVENT_ALIAS", event.known.alias},
          {"HOSTSWEEP_EVENT_OWNER", event.known.owner}};
}

}  // namespace hostsweep::controller
