#include "controller/events/event.h"

#include <ctime>
#include <stdexcept>
#include <utility>

#include "controller/base/printable.h"
#include "controller/base/time_text.h"
#include "controller/output/json_fields.h"

namespace hostsweep::controller {
namespace {

constexpr const char* kId = "id";
constexpr const char* kDevice = "device";

// UtcText's text back; nullopt for any other.
std::optional<std::int64_t> SecondsOfUtc(const std::string& text) {
  std::tm parts{};
  char zone = 0;
  if (text.size() != 20 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &parts.tm_year, &parts.tm_mon,
                  &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &zone) != 7 ||
      zone != 'Z') {
    return std::nullopt;
  }
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  const std::time_t seconds = timegm(&parts);
  if (seconds == static_cast<std::time_t>(-1) || UtcText(seconds) != text) {
    return std::nullopt;
  }
  return seconds;
}

std::string TextOr(const Json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) {
    return {};
  }
  return found->get<std::string>();
}

std::int64_t Time(const Json& object, const char* key) {
  const auto seconds = SecondsOfUtc(object.at(key).get<std::string>());
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

std::string EventJson(const Event& event) {
  using namespace json_key;
  Json device;
  device[kId] = event.device;
  device[kAddress] = AddressText(event.host);
  device[kName] = OrNull(event.host.name);
  device[kMac] = OrNull(event.host.mac ? FormatMac(*event.host.mac) : std::string{});
  device[kVendor] = OrNull(event.vendor);
  device[kType] = OrNull(event.host.type);
  device[kModel] = OrNull(event.host.model);
  device[kAlias] = OrNull(event.known.alias);
  device[kOwner] = OrNull(event.known.owner);
  device[kKnown] = event.known.known;
  device[kFirstSeen] = UtcText(event.firstSeen);
  device[kLastSeen] = UtcText(event.lastSeen);
  Json line;
  line[kId] = event.id;
  line[kTime] = UtcText(event.time);
  line[kKind] = ChangeText(event.kind);
  line[kDevice] = device;
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
    const std::string address = device.at(kAddress).get<std::string>();
    if (const auto ipv4 = ParseAddress(address)) {
      event.host.address = *ipv4;
    } else {
      event.host.ipv6 = address;
    }
    event.host.name = TextOr(device, kName);
    const std::string mac = TextOr(device, kMac);
    event.host.mac = ParseMac(mac);
    if (!mac.empty() && !event.host.mac) {
      return std::nullopt;
    }
    event.host.type = TextOr(device, kType);
    event.host.model = TextOr(device, kModel);
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
  if (!event.previous.empty()) {
    line += ", was " + event.previous;
  }
  return Printable(line);
}

}  // namespace hostsweep::controller
