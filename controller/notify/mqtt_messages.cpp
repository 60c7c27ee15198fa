#include "controller/notify/mqtt_messages.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>

#include "controller/base/errors.h"
#include "controller/base/mac_address.h"
#include "controller/base/printable.h"
#include "controller/events/event.h"
#include "controller/model/json_fields.h"
#include "controller/model/seen_host.h"
#include "controller/notify/secret_option.h"

namespace hostsweep::controller {
namespace {

constexpr std::string_view kDefaultPrefix = "hostsweep";
constexpr std::string_view kHome = "home";
constexpr std::string_view kNotHome = "not_home";
constexpr std::size_t kMostTopicBytes = 65535;

class UrlReader {
 public:
  explicit UrlReader(std::string_view url) : url_(url) {}

  [[noreturn]] void Refuse(std::string_view why) const {
    throw UsageError("--mqtt " + Excerpt(MaskedUrl(url_), kMostQuotedPath) + ": " +
                     std::string(why));
  }

  // %XX escapes undone, as a URL's user part carries ':', '@' and '/'.
  [[nodiscard]] std::string Decoded(std::string_view text) const {
    std::string plain;
    for (std::size_t at = 0; at < text.size(); ++at) {
      if (text[at] != '%') {
        plain += text[at];
        continue;
      }
      unsigned byte = 0;
      const char* first = text.data() + at + 1;
      const char* last = first + std::min<std::size_t>(2, text.size() - at - 1);
      if (last - first != 2 || std::from_chars(first, last, byte, 16).ptr != last) {
        Refuse("a % not followed by two hex digits");
      }
      plain += static_cast<char>(byte);
      at += 2;
    }
    return plain;
  }

  void UserInfo(std::string_view userInfo, MqttUrl& parsed) const {
    const std::size_t colon = userInfo.find(':');
    parsed.user = Decoded(userInfo.substr(0, colon));
    if (colon != std::string_view::npos) {
      parsed.password = Decoded(userInfo.substr(colon + 1));
    }
    if (parsed.user.empty()) {
      Refuse("no user before the @");
    }
  }

  // host[:port] or [IPv6]:port; the scheme's port without one.
  void HostAndPort(std::string_view authority, MqttUrl& parsed) const {
    std::optional<std::string_view> port;
    if (authority.starts_with('[')) {
      const std::size_t close = authority.find(']');
      const std::string_view after = authority.substr(std::min(close + 1, authority.size()));
      if (close == std::string_view::npos || (!after.empty() && after.front() != ':')) {
        Refuse("an IPv6 address not closed by ] before the port");
      }
      parsed.host = authority.substr(1, close - 1);
      if (!after.empty()) {
        port = after.substr(1);
      }
    } else {
      const std::size_t colon = authority.rfind(':');
      parsed.host = authority.substr(0, colon);
      if (colon != std::string_view::npos) {
        port = authority.substr(colon + 1);
      }
    }
    if (parsed.host.empty()) {
      Refuse("no host");
    }
    parsed.port = port ? Port(*port) : (parsed.tls ? 8883 : 1883);
  }

 private:
  [[nodiscard]] int Port(std::string_view text) const {
    int port = 0;
    const char* last = text.data() + text.size();
    if (std::from_chars(text.data(), last, port).ptr != last || port < 1 || port > 65535) {
      Refuse("the port is not a number from 1 to 65535");
    }
    return port;
  }

  std::string_view url_;
};

std::string UniqueId(std::string_view prefix, std::int64_t device) {
  return std::string(prefix) + "-" + std::to_string(device);
}

// Home Assistant takes [A-Za-z0-9_-] in a topic's object id; every other
// byte, and '_' itself, becomes _XX so that two prefixes never meet.
std::string ObjectId(std::string_view uniqueId) {
  constexpr std::string_view kHex = "0123456789abcdef";
  std::string id;
  for (const char c : uniqueId) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) != 0 || c == '-') {
      id += c;
    } else {
      id += '_';
      id += kHex[byte >> 4U];
      id += kHex[byte & 15U];
    }
  }
  return id;
}

std::string DisplayName(const DeviceStatus& device) {
  if (!device.known.alias.empty()) {
    return device.known.alias;
  }
  if (!device.host.name.empty()) {
    return device.host.name;
  }
  return device.host.mac ? FormatMac(*device.host.mac) : AddressText(device.host);
}

}  // namespace

MqttUrl ParseMqttUrl(std::string_view url) {
  const UrlReader reader(url);
  MqttUrl parsed;
  std::string_view rest = url;
  if (rest.starts_with("mqtts://")) {
    parsed.tls = true;
    rest.remove_prefix(8);
  } else if (rest.starts_with("mqtt://")) {
    rest.remove_prefix(7);
  } else {
    reader.Refuse("not an mqtt:// or mqtts:// URL");
  }
  const std::size_t slash = std::min(rest.find('/'), rest.size());
  std::string_view authority = rest.substr(0, slash);
  std::string_view prefix = rest.substr(std::min(slash + 1, rest.size()));
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    reader.UserInfo(authority.substr(0, at), parsed);
    authority.remove_prefix(at + 1);
  }
  reader.HostAndPort(authority, parsed);
  while (prefix.ends_with('/')) {
    prefix.remove_suffix(1);
  }
  // Wildcards cannot be published to; '$' topics are the broker's own.
  if (prefix.find_first_of("+#") != std::string_view::npos || prefix.starts_with('$')) {
    reader.Refuse("a topic prefix with +, # or a leading $");
  }
  parsed.prefix = prefix.empty() ? kDefaultPrefix : prefix;
  // Refused now rather than by the client at the first publish: MQTT's
  // topics are UTF-8 of at most 65,535 bytes, and the discovery topic, which
  // writes each byte of the prefix Home Assistant's object ids do not take
  // as three, is the longest of ours.
  if (ValidUtf8(parsed.prefix) != parsed.prefix) {
    reader.Refuse("a topic prefix that is not UTF-8");
  }
  if (DiscoveryTopic(parsed.prefix, std::numeric_limits<std::int64_t>::max()).size() >
      kMostTopicBytes) {
    reader.Refuse("a topic prefix too long for MQTT's topics of at most " +
                  std::to_string(kMostTopicBytes) + " bytes");
  }
  return parsed;
}

std::string MqttClientId(std::string_view database) {
  // FNV-1a: the same id from the same path on every build and every start.
  constexpr std::uint64_t kOffsetBasis = 14695981039346656037ULL;
  constexpr std::uint64_t kPrime = 1099511628211ULL;
  std::uint64_t hash = kOffsetBasis;
  for (const char c : database) {
    hash = (hash ^ static_cast<unsigned char>(c)) * kPrime;
  }
  // "hostsweep" and 14 hex digits: the 23 letters and digits every broker
  // must take.
  constexpr std::string_view kHex = "0123456789abcdef";
  std::string id = "hostsweep";
  for (int shift = 52; shift >= 0; shift -= 4) {
    id += kHex[(hash >> static_cast<unsigned>(shift)) & 0xFU];
  }
  return id;
}

std::string EventTopic(std::string_view prefix) { return std::string(prefix) + "/event"; }

std::string StatusTopic(std::string_view prefix) { return std::string(prefix) + "/status"; }

std::string DeviceTopic(std::string_view prefix, std::int64_t device) {
  return std::string(prefix) + "/device/" + std::to_string(device);
}

std::string DiscoveryTopic(std::string_view prefix, std::int64_t device) {
  return "homeassistant/device_tracker/" + ObjectId(UniqueId(prefix, device)) + "/config";
}

std::string ConflictsTopic(std::string_view prefix) { return std::string(prefix) + "/conflicts"; }

std::string ConflictsJson(const std::vector<LinkConflict>& conflicts) {
  std::vector<Json> entries;
  for (const LinkConflict& conflict : conflicts) {
    Json entry;
    if (conflict.address && conflict.otherMac) {
      const auto [low, high] = std::minmax(conflict.mac, *conflict.otherMac);
      entry["kind"] = "address";
      entry["address"] = FormatAddress(*conflict.address);
      entry["macs"] = Json::array({FormatMac(low), FormatMac(high)});
    } else {
      entry["kind"] = "shared-mac";
      entry["macs"] = Json::array({FormatMac(conflict.mac)});
    }
    entries.push_back(std::move(entry));
  }
  std::ranges::sort(entries, {}, [](const Json& entry) { return entry.dump(); });
  entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
  Json document;
  document["conflicts"] = Json(std::move(entries));
  return JsonText(document);
}

std::string DeviceStateJson(const DeviceStatus& device) {
  // The fields as EventJson tells them, so that both read alike.
  const Event asEvent{.device = device.id,
                      .host = device.host,
                      .vendor = device.vendor,
                      .known = device.known,
                      .firstSeen = device.firstSeen,
                      .lastSeen = device.lastSeen};
  Json fields = EventDeviceFields(asEvent);
  fields.erase(json_key::kLastSeen);
  fields[json_key::kState] = device.present ? kHome : kNotHome;
  return JsonText(fields);
}

std::string DiscoveryJson(std::string_view prefix, const DeviceStatus& device) {
  const std::string uniqueId = UniqueId(prefix, device.id);
  const std::string stateTopic = DeviceTopic(prefix, device.id);
  Json registry;
  // Home Assistant makes one device of every config naming the same MAC:
  // only one that names the device (DeviceMac) ties them, never a proxy's.
  if (const auto mac = DeviceMac(device.host)) {
    registry["connections"] = Json::array({Json::array({"mac", FormatMac(*mac)})});
  }
  registry["identifiers"] = Json::array({uniqueId});
  registry["name"] = DisplayName(device);
  // Home Assistant refuses a null where it expects a text: left out instead.
  if (!device.vendor.empty()) {
    registry["manufacturer"] = device.vendor;
  }
  if (const std::string& model = device.host.model.empty() ? device.host.type : device.host.model;
      !model.empty()) {
    registry["model"] = model;
  }
  Json config;
  // Null: the tracker is the device's main entity and shows the device's name.
  config["name"] = nullptr;
  config["unique_id"] = uniqueId;
  config["state_topic"] = stateTopic;
  config["value_template"] = "{{ value_json.state }}";
  config["json_attributes_topic"] = stateTopic;
  config["payload_home"] = kHome;
  config["payload_not_home"] = kNotHome;
  config["source_type"] = "router";
  config["availability_topic"] = StatusTopic(prefix);
  config["payload_available"] = kOnline;
  config["payload_not_available"] = kOffline;
  config["qos"] = 1;
  config["device"] = registry;
  config["origin"] = {{"name", "hostsweep"}};
  return JsonText(config);
}

}  // namespace hostsweep::controller
