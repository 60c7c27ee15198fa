// A change told to whoever listens (--on-event, --webhook, --mqtt): what the
// watch saw, with the id the state database gave it. The id names one event
// for ever, so that a receiver that is told twice can drop the second.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "controller/base/link_conflict.h"
#include "controller/base/results.h"
#include "controller/history/sweep_diff.h"
#include "controller/history/watch.h"
#include "controller/model/json_fields.h"

namespace hostsweep::controller {

struct Event {
  std::int64_t id = 0;    // the events table's id
  std::int64_t time = 0;  // seconds since the epoch
  Change kind = Change::kNone;
  std::int64_t device = 0;  // the device's id in the state database: stable across its changes
  SeenHost host{};          // as found; a gone host as last seen
  std::string vendor{};
  KnownFacts known{};      // what the inventory (--known) says of it; `known` false without one
  std::string previous{};  // as RowChange's
  std::int64_t firstSeen = 0;
  std::int64_t lastSeen = 0;
  std::optional<LinkConflict> conflict{};  // a conflict's start or end: what was heard
  bool operator==(const Event&) const = default;
};

// A told event as its receivers get it: with its MAC's maker and what the
// inventory says of its device.
Event EventOf(const WatchEvent& told, std::string vendor, KnownFacts known);

// The event as one line of JSON, the text every sink passes on:
// {"id", "time", "kind", "device": {"id", "address", "name", "mac", "vendor",
// "type", "model", "alias", "owner", "known", "first_seen", "last_seen"},
// "previous"}; times in UTC as the watch's lines, empty texts null. A
// conflict's start or end adds "conflict": {"kind": "address", "address",
// "macs": [first, second]} or {"kind": "shared-mac", "macs": [mac],
// "addresses": how many it answered for}.
std::string EventJson(const Event& event);

// The "device" object of EventJson, which MQTT's device states show too.
Json EventDeviceFields(const Event& event);

// EventJson's text back, as the sinks' queues keep it; nullopt for anything else.
std::optional<Event> ParseEventJson(std::string_view text);

// One printable line for people (--webhook-format text): the kind, the
// address, the alias or name, the MAC and maker, the owner, and what it was
// before; for a conflict, what was heard.
std::string EventSummary(const Event& event);

// What --on-event's command finds in its environment: HOSTSWEEP_EVENT_ID,
// _KIND, _ADDRESS, _MAC, _NAME, _ALIAS and _OWNER, and a conflict's
// _OTHER_MAC (an address's second MAC) and _ADDRESSES (how many a shared
// MAC answered for), each empty when the event has none.
std::vector<std::pair<std::string, std::string>> EventEnvironment(const Event& event);

}  // namespace hostsweep::controller
