// The state database's tables. What changes is kept, not every sweep's rows:
// a device's row is rewritten when it changes, its addresses, names and MACs,
// its services, sessions and events each get a row when they begin, and sweeps
// alike in a row share one. A sweep of a year's watch then writes little
// more than the last_seen of the devices it saw.
#pragma once

#include <cstdint>
#include <string_view>

namespace hostsweep::controller {

// PRAGMA application_id: "hswp", so that another program's SQLite file is
// told from ours.
inline constexpr std::int32_t kStateApplicationId = 0x68737770;
// PRAGMA user_version: raised whenever a later hostsweep changes the tables;
// a file of a higher one is refused, never half understood.
inline constexpr int kStateDatabaseFormat = 5;
// The first format whose events carry a conflict's second MAC and count.
inline constexpr int kFirstFormatWithConflicts = 4;
// The first format that keeps the DNS-SD services each device announced.
inline constexpr int kFirstFormatWithServices = 5;

// Times are seconds since the epoch (UTC). A device's address is its row's:
// IPv4, or its IPv6 address when it was heard over IPv6 alone.
inline constexpr std::string_view kStateSchema = R"sql(
CREATE TABLE devices (
  id INTEGER PRIMARY KEY,
  address TEXT NOT NULL,
  name TEXT NOT NULL,
  mac TEXT,
  mac_source TEXT,
  vendor TEXT NOT NULL,
  present INTEGER NOT NULL,
  missed INTEGER NOT NULL,
  first_seen INTEGER NOT NULL,
  last_seen INTEGER NOT NULL,
  type TEXT NOT NULL DEFAULT '',   -- what the device last said it is
  model TEXT NOT NULL DEFAULT ''
);
-- The most recently seen of those away, read at start; those present are
-- left out, so that a sweep's new last_seen leaves the index as it is.
CREATE INDEX devices_away ON devices (last_seen) WHERE present = 0;

-- Every address, name and MAC a device has had, and when. Its values of now
-- have no last_seen of their own: the device's is theirs.
CREATE TABLE device_values (
  device INTEGER NOT NULL REFERENCES devices (id),
  kind TEXT NOT NULL CHECK (kind IN ('address', 'name', 'mac')),
  value TEXT NOT NULL,
  first_seen INTEGER NOT NULL,
  last_seen INTEGER,
  PRIMARY KEY (device, kind, value)
) WITHOUT ROWID;
CREATE INDEX device_values_by_value ON device_values (value COLLATE NOCASE);

-- Present from `began` to `ended` (its last sighting); open while present.
CREATE TABLE sessions (
  device INTEGER NOT NULL REFERENCES devices (id),
  began INTEGER NOT NULL,
  ended INTEGER,
  PRIMARY KEY (device, began)
) WITHOUT ROWID;

-- Sweeps in a row that changed nothing, of the same addresses, finding as
-- many hosts, share a row: `count` sweeps from `time` to `last`. A sweep
-- that changed something has a row of its own, which its events name.
CREATE TABLE sweeps (
  id INTEGER PRIMARY KEY,
  time INTEGER NOT NULL,
  last INTEGER NOT NULL,
  count INTEGER NOT NULL,
  swept INTEGER NOT NULL,
  lowest TEXT,
  highest TEXT,
  ipv6 INTEGER NOT NULL,
  found INTEGER NOT NULL,
  changes INTEGER NOT NULL
);

-- Every change, in the order told. Appended to only: an id, once given,
-- names one event for ever, so that whoever passes events on can drop the
-- ones it has passed already.
CREATE TABLE events (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  sweep INTEGER NOT NULL REFERENCES sweeps (id),
  time INTEGER NOT NULL,
  device INTEGER NOT NULL REFERENCES devices (id),
  change TEXT NOT NULL,
  address TEXT NOT NULL,
  name TEXT NOT NULL,
  mac TEXT,
  vendor TEXT NOT NULL,
  previous TEXT NOT NULL,
  first_seen INTEGER NOT NULL,
  last_seen INTEGER NOT NULL
);
CREATE TRIGGER events_kept BEFORE UPDATE ON events
  BEGIN SELECT RAISE(ABORT, 'events are kept as told'); END;
CREATE TRIGGER events_never_deleted BEFORE DELETE ON events
  BEGIN SELECT RAISE(ABORT, 'events are kept as told'); END;
)sql";

// Format 2: the events each sink (--on-event's "command", "webhook", "mqtt")
// has yet to deliver, as they were told, and how many each dropped when its
// queue was full. A file of format 1 gains these tables and nothing else.
inline constexpr std::string_view kSinkQueueSchema = R"sql(
CREATE TABLE sink_queue (
  sink TEXT NOT NULL,
  event INTEGER NOT NULL REFERENCES events (id),
  json TEXT NOT NULL,
  PRIMARY KEY (sink, event)
) WITHOUT ROWID;
CREATE TABLE sink_drops (
  sink TEXT PRIMARY KEY,
  dropped INTEGER NOT NULL
) WITHOUT ROWID;
)sql";

// Format 3: a device's events found without reading every event (the
// dashboard's device page). SQLite ends each entry with the row's id, so a
// device's events come in the order told. An older file gains the index in
// its upgrade's one transaction, a new file with the tables above.
inline constexpr std::string_view kEventsByDeviceSchema =
    "CREATE INDEX events_by_device ON events (device);";

// Format 4: link conflicts. A conflict's event names what was heard: an
// address's second MAC (`other_mac`; `address` and `mac` are the first's),
// or how many addresses a MAC answered for (`addresses`); its `device` is
// the device that answers with `mac`, 0 when none does. The conflicts open
// now are kept, so that a watch started again tells none of them twice.
// `key` is ConflictKey's. An older file gains the columns and the table in
// its upgrade's one transaction, a new file with the tables above.
inline constexpr std::string_view kConflictsSchema = R"sql(
ALTER TABLE events ADD COLUMN other_mac TEXT;
ALTER TABLE events ADD COLUMN addresses INTEGER;
CREATE TABLE open_conflicts (
  key TEXT PRIMARY KEY,
  address TEXT,
  mac TEXT NOT NULL,
  other_mac TEXT,
  addresses INTEGER NOT NULL,
  since INTEGER NOT NULL
) WITHOUT ROWID;
)sql";

// Format 5: every DNS-SD service type a device has announced ("_ipp._tcp"),
// kept as device_values keeps its addresses: a row when it is first
// announced, ended (`last_seen`) by the first sweep that asked the device and
// did not hear it; those of now have no last_seen of their own: the
// device's is theirs. A sweep that did not ask (--no-types) ends none. An
// older file gains the table in its upgrade's one transaction, a new file
// with the tables above.
inline constexpr std::string_view kServicesSchema = R"sql(
CREATE TABLE device_services (
  device INTEGER NOT NULL REFERENCES devices (id),
  type TEXT NOT NULL,
  first_seen INTEGER NOT NULL,
  last_seen INTEGER,
  PRIMARY KEY (device, type)
) WITHOUT ROWID;
)sql";

}  // namespace hostsweep::controller
