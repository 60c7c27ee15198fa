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

Json ConflictFields(const LinkConflict& conflict) {
  using namespace json_key;
  Json fields;
  if (conflict.address && conflict.otherMac) {
    fields[kKind] = "address";
    fields[kAddress] = FormatAddress(*conflict.address);
    fields[kMacs] = Json::array({FormatMac(conflict.mac), FormatMac(*conflict.otherMac)});
  } else {
    fields[kKind] = "shared-mac";
    fields[kMacs] = Json::array({FormatMac(conflict.mac)});
    fields[kAddresses] = conflict.addresses;
  }
  return fields;
}

MacAddress MacOf(const Json& text) {
  const auto mac = ParseMac(text.get<std::string>());
  if (!mac) {
    throw std::invalid_argument("not a MAC");
  }
  return *mac;
}

std::optional<LinkConflict> ConflictOf(const Json& line) {
  using namespace json_key;
  const auto found = line.find(kConflict);
  if (found == line.end()) {
    return std::nullopt;
  }
  const Json& macs = found->at(kMacs);
  LinkConflict conflict{.mac = MacOf(macs.at(0))};
  if (found->at(kKind).get<std::string>() == "address") {
    const auto address = ParseAddress(found->at(kAddress).get<std::string>());
    if (!address) {
      throw std::invalid_argument("not an address");
    }
    conflict.address = *address;
    conflict.otherMac = MacOf(macs.at(1));
  } else {
    conflict.addresses = found->at(kAddresses).get<std::size_t>();
  }
  return conflict;
}

// What was heard, after the device it names.
std::string ConflictText(Change kind, const LinkConflict& conflict) {
  const bool started = kind == Change::kConflict;
  if (conflict.otherMac) {
    return ", " + FormatMac(*conflict.otherMac) +
           (started ? " answers for it too" : " no longer answers for it");
  }
  return started ? ", answering for " + std::to_string(conflict.addresses) + " addresses"
                 : ", no longer answering for more addresses than a host holds";
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
          .lastSeen = told.lastSeen,
          .conflict = told.conflict};
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
  if (event.conflict) {
    line[kConflict] = ConflictFields(*event.conflict);
  }
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
                .lastSeen = Time(device, kLastSeen),
                .conflict = ConflictOf(line)};
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
  if (event.conflict) {
    line += ConflictText(event.kind, *event.conflict);
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
          {"HOSTSWEEP_EVENT_OWNER", event.known.owner},
          {"HOSTSWEEP_EVENT_OTHER_MAC",
           event.conflict && event.conflict->otherMac ? FormatMac(*event.conflict->otherMac) : ""},
          {"HOSTSWEEP_EVENT_ADDRESSES", event.conflict && !event.conflict->otherMac
                                            ? std::to_string(event.conflict->addresses)
                                            : ""}};
}

}  // namespace hostsweep::controller
