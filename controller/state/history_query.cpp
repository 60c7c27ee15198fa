#include "controller/state/history_query.h"

#include "controller/base/mac_address.h"

namespace hostsweep::controller {
namespace {

constexpr std::string_view kDevices =
    "SELECT id, address, name, mac, vendor, present, first_seen, last_seen, type, model FROM "
    "devices ";

// Each device `devices` steps to, with its sessions and past values.
void TakeEach(Database& database, Statement& devices,
              const std::function<void(const DeviceHistory&)>& take) {
  const auto sessions =
      database.Prepare("SELECT began, ended FROM sessions WHERE device = ?1 ORDER BY began");
  const auto values = database.Prepare(
      "SELECT kind, value, first_seen, coalesce(last_seen, ?2) FROM device_values WHERE device = "
      "?1 "
      "ORDER BY first_seen, value");
  while (devices.Step()) {
    const std::int64_t id = devices.Integer(0);
    DeviceHistory device{.id = id,
                         .address = devices.Text(1),
                         .name = devices.Text(2),
                         .mac = devices.Text(3),
                         .vendor = devices.Text(4),
                         .type = devices.Text(8),
                         .model = devices.Text(9),
                         .present = devices.Integer(5) != 0,
                         .firstSeen = devices.Integer(6),
                         .lastSeen = devices.Integer(7)};
    sessions->Bind(1, id);
    while (sessions->Step()) {
      device.sessions.push_back(
          {.began = sessions->Integer(0),
           .ended = sessions->IsNull(1) ? std::nullopt : std::optional(sessions->Integer(1))});
    }
    sessions->Reset();
    values->Bind(1, id).Bind(2, device.lastSeen);
    while (values->Step()) {
      const std::string kind = values->Text(0);
      auto& list = kind == "address" ? device.addresses
                   : kind == "name"  ? device.names
                                     : device.macs;
      list.push_back({.value = values->Text(1),
                      .firstSeen = values->Integer(2),
                      .lastSeen = values->Integer(3)});
    }
    values->Reset();
    take(device);
  }
}

}  // namespace

void ForEachDevice(Database& database, std::string_view who,
                   const std::function<void(const DeviceHistory&)>& take) {
  const auto devices = database.Prepare(
      std::string(kDevices) +
      (who.empty() ? "ORDER BY first_seen, id"
                   : "WHERE id IN (SELECT device FROM device_values WHERE value = ?1 COLLATE "
                     "NOCASE) ORDER BY first_seen, id"));
  if (!who.empty()) {
    const auto mac = ParseMac(who);
    devices->Bind(1, mac ? FormatMac(*mac) : std::string(who));
  }
  TakeEach(database, *devices, take);
}

std::optional<DeviceHistory> DeviceById(Database& database, std::int64_t id) {
  const auto devices = database.Prepare(std::string(kDevices) + "WHERE id = ?1");
  devices->Bind(1, id);
  std::optional<DeviceHistory> found;
  TakeEach(database, *devices, [&found](const DeviceHistory& device) { found = device; });
  return found;
}

}  // namespace hostsweep::controller
