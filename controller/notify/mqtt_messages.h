// What --mqtt says and where: the broker's URL taken apart, the topics, and
// the retained documents (a device's state, Home Assistant's discovery
// config). Nothing here touches the network.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "controller/events/sweep_report.h"

namespace hostsweep::controller {

struct MqttUrl {
  bool tls = false;  // mqtts://
  std::string user{};
  std::string password{};
  std::string host{};
  int port = 0;
  std::string prefix{};  // every topic but Home Assistant's discovery starts with it
  bool operator==(const MqttUrl&) const = default;
};

// mqtt://[user[:password]@]host[:port][/prefix], or mqtts://; the port
// defaults to 1883 (8883 for mqtts) and the prefix to "hostsweep". Throws
// UsageError naming the URL masked, for a prefix too that no MQTT topic
// can carry.
MqttUrl ParseMqttUrl(std::string_view url);

// One client id per state database (`database`: its file's canonical
// path), the same at every start, so that the broker keeps its session for
// it across our restarts, and two watches, whatever their prefixes, never
// knock each other off the broker (a database has one watch at a time).
std::string MqttClientId(std::string_view database);

// The topics under a prefix.
std::string EventTopic(std::string_view prefix);
std::string StatusTopic(std::string_view prefix);  // "online"/"offline", retained; the last will
std::string DeviceTopic(std::string_view prefix, std::int64_t device);
std::string DiscoveryTopic(std::string_view prefix, std::int64_t device);
std::string ConflictsTopic(std::string_view prefix);  // ConflictsJson, retained

inline constexpr std::string_view kOnline = "online";
inline constexpr std::string_view kOffline = "offline";

// The device's fields as the events tell them, and "state": "home" when
// present, else "not_home". Its last sighting is left out: it changes at
// every sweep, and the document is published again only when it changes.
std::string DeviceStateJson(const DeviceStatus& device);

// The link conflicts open (SweepReport's), retained, so that a conflict is
// one message when it starts and one when it ends: {"conflicts": [{"kind":
// "address", "address", "macs": [first, second]} or {"kind": "shared-mac",
// "macs": [mac]} ...]}, in one order whatever the order heard, each address
// conflict's MACs in order too, and no count that could change meanwhile.
std::string ConflictsJson(const std::vector<LinkConflict>& conflicts);

// Home Assistant's MQTT discovery config of the device as a device_tracker
// fed by DeviceTopic, available while StatusTopic says online.
std::string DiscoveryJson(std::string_view prefix, const DeviceStatus& device);

}  // namespace hostsweep::controller
