// --history: what the state database knows of each device.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controller/state/database.h"

namespace hostsweep::controller {

struct Session {
  std::int64_t began = 0;
  std::optional<std::int64_t> ended{};  // none while present
};

// An address, name or MAC the device has had, from when to when.
struct PastValue {
  std::string value;
  std::int64_t firstSeen = 0;
  std::int64_t lastSeen = 0;
};

struct DeviceHistory {
  std::int64_t id = 0;  // the devices table's, stable across its changes
  std::string address;
  std::string name;
  std::string mac;
  std::string vendor;
  std::string type{};
  std::string model{};
  bool present = false;
  std::int64_t firstSeen = 0;
  std::int64_t lastSeen = 0;
  std::vector<Session> sessions{};     // oldest first
  std::vector<PastValue> addresses{};  // each, oldest first
  std::vector<PastValue> names{};
  std::vector<PastValue> macs{};
};

// Each device in the order first seen, or (`who` not empty) those that have
// ever had `who` as address, MAC (as any spelling ParseMac reads) or name
// (in any case), one at a time.
void ForEachDevice(Database& database, std::string_view who,
                   const std::function<void(const DeviceHistory&)>& take);

// The device of id `id`, when there is one.
std::optional<DeviceHistory> DeviceById(Database& database, std::int64_t id);

}  // namespace hostsweep::controller
