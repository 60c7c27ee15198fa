// The dashboard's JSON API (docs/api.md): what the state database knows,
// under the names --json, --history and the events use, written as every
// JSON document of ours is (JsonText: control and direction characters
// escaped), so that a hostile name is the same text here as anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "controller/inventory/inventory.h"
#include "controller/inventory/known_edit.h"
#include "controller/state/database.h"

namespace hostsweep::controller {

// GET /api/devices: every device, in the order first seen, each with what
// the inventory (null: none) says of it and since when it is present or away.
std::string DevicesJson(Database& database, const Inventory* inventory);

// GET /api/devices/ID: DevicesJson's entry with its sessions, past
// addresses, names and MACs, and its events; none for an unknown id.
std::optional<std::string> DeviceJson(Database& database, std::int64_t id,
                                      const Inventory* inventory);

// The device `id` as the inventory looks it up (its address and MAC); none
// for an unknown id.
std::optional<SeenHost> DeviceHost(Database& database, std::int64_t id);

struct KnownEditRequest {
  std::int64_t device = 0;
  KnownFactsEdit facts{};
};

// POST /api/known's body: {"device": ID, "alias", "owner", "expect",
// "away_after", "note": TEXT}; none unless each is there, as that type.
std::optional<KnownEditRequest> KnownEditOf(std::string_view body);

struct EventText {
  std::int64_t id = 0;
  std::string json;  // one line, as the sinks pass the event on
};

// Up to `most` events, oldest first: those after `after`, or without it the
// newest. `device`: that device's alone.
std::vector<EventText> EventsAfter(Database& database, std::optional<std::int64_t> after,
                                   std::size_t most, const Inventory* inventory,
                                   std::optional<std::int64_t> device = std::nullopt);

// GET /api/events[?after=ID]: EventsAfter's as one JSON array.
std::string EventsJson(const std::vector<EventText>& events);

}  // namespace hostsweep::controller
