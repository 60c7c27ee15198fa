#include "controller/state/state_tables.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace hostsweep::controller {
namespace {

std::string MacText(const SeenHost& host) { return host.mac ? FormatMac(*host.mac) : ""; }

}  // namespace

StateTables::StateTables(Database& database, VendorOf vendorOf)
    : vendorOf_(std::move(vendorOf)),
      insertDevice_(database.Prepare(
          "INSERT INTO devices (address, name, mac, mac_source, vendor, present, missed, "
          "last_seen, id, first_seen, type, model) "
          "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)")),
      updateDevice_(database.Prepare(
          "UPDATE devices SET address = ?1, name = ?2, mac = ?3, mac_source = ?4, vendor = ?5, "
          "present = ?6, missed = ?7, last_seen = ?8, type = ?11, model = ?12 WHERE id = ?9")),
      endValue_(database.Prepare(
          "UPDATE device_values SET last_seen = ?4 "
          "WHERE device = ?1 AND kind = ?2 AND last_seen IS NULL AND value <> ?3")),
      holdValue_(database.Prepare(
          "INSERT INTO device_values (device, kind, value, first_seen) VALUES (?1, ?2, ?3, ?4) "
          "ON CONFLICT DO UPDATE SET last_seen = NULL")),
      endServices_(database.Prepare(
          "UPDATE device_services SET last_seen = ?2 WHERE device = ?1 AND last_seen IS NULL")),
      holdService_(database.Prepare(
          "INSERT INTO device_services (device, type, first_seen) VALUES (?1, ?2, ?3) "
          "ON CONFLICT DO UPDATE SET last_seen = NULL")),
      seeAgain_(database.Prepare("UPDATE devices SET last_seen = ?1 "
                                 "WHERE id IN (SELECT value FROM json_each(?2))")),
      openSession_(database.Prepare(
          "INSERT INTO sessions (device, began) VALUES (?1, ?2) ON CONFLICT DO NOTHING")),
      closeSession_(
          database.Prepare("UPDATE sessions SET ended = ?2 WHERE device = ?1 AND ended IS NULL")),
      extendRun_(database.Prepare(
          "UPDATE sweeps SET last = ?1, count = count + 1 "
          "WHERE id = (SELECT max(id) FROM sweeps) AND swept = ?2 AND lowest IS ?3 AND "
          "highest IS ?4 AND ipv6 = ?5 AND found = ?6 AND changes = ?7 AND ?7 = 0 RETURNING id")),
      addSweep_(database.Prepare(
          "INSERT INTO sweeps (time, last, count, swept, lowest, highest, ipv6, found, changes) "
          "VALUES (?1, ?1, 1, ?2, ?3, ?4, ?5, ?6, ?7) RETURNING id")),
      addEvent_(database.Prepare(
          "INSERT INTO events (sweep, time, device, change, address, name, mac, vendor, "
          "previous, first_seen, last_seen, id, other_mac, addresses) VALUES (?1, ?2, ?3, ?4, ?5, "
          "?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)")),
      nextEventId_(database.Prepare(
          "SELECT coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'events'), 0) + 1")),
      lastSweep_(database.Prepare("SELECT coalesce(max(id), 0) FROM sweeps")),
      openConflict_(database.Prepare(
          "INSERT INTO open_conflicts (key, address, mac, other_mac, addresses, since) "
          "VALUES (?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT DO NOTHING")),
      closeConflict_(database.Prepare("DELETE FROM open_conflicts WHERE key = ?1")) {}

// The columns an insert and an update share, 1 to 9, 11 and 12; 9 is the id.
void StateTables::BindDevice(Statement& statement, const KnownHost& known) {
  const SeenHost& host = known.host;
  statement.Bind(1, AddressText(host))
      .Bind(2, host.name)
      .BindTextOrNull(3, MacText(host))
      .BindTextOrNull(4, MacSourceText(host.macSource))
      .Bind(5, host.mac ? vendorOf_(*host.mac) : std::string{})
      .Bind(6, std::int64_t{known.present})
      .Bind(7, std::int64_t{known.missed})
      .Bind(8, known.lastSeen)
      .Bind(9, known.record)
      .Bind(11, host.type)
      .Bind(12, host.model);
}

void StateTables::InsertDevice(const KnownHost& known) {
  BindDevice(*insertDevice_, known);
  insertDevice_->Bind(10, known.firstSeen);
  insertDevice_->Run();
}

void StateTables::UpdateDevice(const KnownHost& known) {
  BindDevice(*updateDevice_, known);
  updateDevice_->Run();
}

void StateTables::SeeValues(const KnownHost& known, std::int64_t since, std::int64_t lastHeld) {
  const auto see = [&](std::string_view kind, const std::string& value) {
    endValue_->Bind(1, known.record).Bind(2, kind).Bind(3, value).Bind(4, lastHeld).Run();
    if (!value.empty()) {
      holdValue_->Bind(1, known.record).Bind(2, kind).Bind(3, value).Bind(4, since).Run();
    }
  };
  see("address", AddressText(known.host));
  see("name", known.host.name);
  see("mac", MacText(known.host));
}

void StateTables::SeeServices(std::int64_t device, const std::vector<std::string>& services,
                              std::int64_t since, std::int64_t lastHeld) {
  // All end, and those still announced are held again, their first_seen
  // kept: written only when the list changed, so never more than a few rows.
  endServices_->Bind(1, device).Bind(2, lastHeld).Run();
  for (const std::string& type : services) {
    holdService_->Bind(1, device).Bind(2, type).Bind(3, since).Run();
  }
}

void StateTables::SeeAgain(const std::vector<std::int64_t>& devices, std::int64_t now) {
  if (devices.empty()) {
    return;
  }
  std::string ids = "[";
  for (const std::int64_t device : devices) {
    ids += std::to_string(device) + ",";
  }
  ids.back() = ']';
  seeAgain_->Bind(1, now).Bind(2, ids).Run();
}

void StateTables::OpenSession(std::int64_t device, std::int64_t began) {
  openSession_->Bind(1, device).Bind(2, began).Run();
}

void StateTables::CloseSession(std::int64_t device, std::int64_t ended) {
  closeSession_->Bind(1, device).Bind(2, ended).Run();
}

std::int64_t StateTables::AddSweep(const SweepSummaryRow& sweep) {
  const auto [lowest, highest] = std::minmax_element(sweep.swept->begin(), sweep.swept->end());
  // The run's row when there is one to extend, else a row of its own.
  for (Statement* statement : {extendRun_.get(), addSweep_.get()}) {
    statement->Bind(1, sweep.time).Bind(2, static_cast<std::int64_t>(sweep.swept->size()));
    if (lowest != sweep.swept->end()) {
      statement->Bind(3, FormatAddress(*lowest)).Bind(4, FormatAddress(*highest));
    }
    statement->Bind(5, std::int64_t{sweep.ipv6})
        .Bind(6, static_cast<std::int64_t>(sweep.found))
        .Bind(7, static_cast<std::int64_t>(sweep.changes));
    if (statement->Step()) {
      const std::int64_t id = statement->Integer(0);
      statement->Run();
      return id;
    }
    statement->Reset();
  }
  throw std::logic_error("a sweep's row was neither extended nor added");
}

void StateTables::AddEvent(std::int64_t sweep, const WatchEvent& event) {
  addEvent_->Bind(1, sweep)
      .Bind(2, event.when)
      .Bind(3, event.record)
      .Bind(4, ChangeText(event.change))
      .Bind(5, AddressText(event.host))
      .Bind(6, event.host.name)
      .BindTextOrNull(7, MacText(event.host))
      .Bind(8, event.host.mac ? vendorOf_(*event.host.mac) : std::string{})
      .Bind(9, event.previous)
      .Bind(10, event.firstSeen)
      .Bind(11, event.lastSeen)
      .Bind(12, event.id);
  if (const auto& conflict = event.conflict) {
    if (conflict->otherMac) {
      addEvent_->Bind(13, FormatMac(*conflict->otherMac));
    } else {
      addEvent_->Bind(14, static_cast<std::int64_t>(conflict->addresses));
    }
  }
  addEvent_->Run();
}

std::int64_t StateTables::LastSweep() {
  lastSweep_->Step();
  const std::int64_t id = lastSweep_->Integer(0);
  lastSweep_->Reset();
  return id;
}

void StateTables::OpenConflict(const LinkConflict& conflict, std::int64_t since) {
  openConflict_->Bind(1, ConflictKey(conflict))
      .BindTextOrNull(2, conflict.address ? FormatAddress(*conflict.address) : "")
      .Bind(3, FormatMac(conflict.mac))
      .BindTextOrNull(4, conflict.otherMac ? FormatMac(*conflict.otherMac) : "")
      .Bind(5, static_cast<std::int64_t>(conflict.addresses))
      .Bind(6, since)
      .Run();
}

void StateTables::CloseConflict(const LinkConflict& conflict) {
  closeConflict_->Bind(1, ConflictKey(conflict)).Run();
}

std::int64_t StateTables::NextEventId() {
  nextEventId_->Step();
  const std::int64_t id = nextEventId_->Integer(0);
  nextEventId_->Reset();
  return id;
}

}  // namespace hostsweep::controller
