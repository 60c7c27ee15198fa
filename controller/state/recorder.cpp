#include "controller/state/recorder.h"

#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "controller/base/errors.h"
#include "controller/events/event.h"

namespace hostsweep::controller {
namespace {

constexpr std::string_view kDeviceColumns =
    "SELECT id, address, name, mac, mac_source, present, missed, first_seen, last_seen, type, "
    "model FROM devices ";

KnownHost KnownHostOf(const Statement& row) {
  KnownHost known{.host = {},
                  .present = row.Integer(5) != 0,
                  .firstSeen = row.Integer(7),
                  .lastSeen = row.Integer(8),
                  .missed = static_cast<int>(row.Integer(6)),
                  .record = row.Integer(0)};
  SetRowAddress(known.host, row.Text(1));
  known.host.name = row.Text(2);
  known.host.mac = ParseMac(row.Text(3));
  known.host.macSource = ValueOf(kMacSourceTexts, row.Text(4)).value_or(MacSource::kNone);
  known.host.type = row.Text(9);
  known.host.model = row.Text(10);
  return known;
}

// What the devices table keeps of a host: not its IPv6 addresses, which a
// device's privacy addresses would have rewritten every day.
auto StoredFields(const SeenHost& host) {
  return std::tie(host.address, host.ipv6, host.name, host.mac, host.macSource, host.type,
                  host.model);
}

// A sweep that asked the device heard another list than the database holds
// (a device never asked holds none).
bool ServicesChanged(const KnownHost& now, const KnownHost* before) {
  const auto& services = now.host.services;
  const auto* held = before != nullptr && before->host.services ? &*before->host.services : nullptr;
  return services && (held == nullptr ? !services->empty() : *held != *services);
}

bool SameRowButLastSeen(const KnownHost& now, const KnownHost& before) {
  return StoredFields(now.host) == StoredFields(before.host) && now.present == before.present &&
         now.missed == before.missed && now.firstSeen == before.firstSeen;
}

}  // namespace

Recorder::Recorder(Database& database, int goneAfter, const VendorOf& vendorOf,
                   std::vector<std::string> sinks)
    : database_(database),
      tables_(database, vendorOf),
      queues_(database),
      sinks_(std::move(sinks)),
      vendorOf_(vendorOf) {
  book_.goneAfter = goneAfter;
  Load();
}

void Recorder::Load() {
  book_.known.clear();
  heardSinceCommit_.clear();
  const auto present = database_.Prepare(std::string(kDeviceColumns) + "WHERE present = 1");
  while (present->Step()) {
    book_.known.push_back(KnownHostOf(*present));
  }
  const auto away = database_.Prepare(std::string(kDeviceColumns) +
                                      "WHERE present = 0 ORDER BY last_seen DESC LIMIT ?1");
  away->Bind(1, static_cast<std::int64_t>(kMostKnownHosts));
  while (away->Step()) {
    book_.known.push_back(KnownHostOf(*away));
  }
  // The database keeps no count of the addresses a MAC answered for.
  std::vector<SeenHost*> hosts;
  for (KnownHost& known : book_.known) {
    hosts.push_back(&known.host);
  }
  CountSharedMacs(hosts);
  LoadServices();
  const auto last = database_.Prepare(
      "SELECT coalesce(max(id), 0), NOT EXISTS (SELECT 1 FROM sweeps) FROM devices");
  last->Step();
  book_.lastRecord = committedRecord_ = last->Integer(0);
  empty_ = committedRecord_ == 0 && last->Integer(1) != 0;
}

void Recorder::LoadServices() {
  // A device with none keeps none: the same as an empty list to the writes.
  std::unordered_map<std::int64_t, std::optional<std::vector<std::string>>*> services;
  for (KnownHost& known : book_.known) {
    services.emplace(known.record, &known.host.services);
  }
  const auto rows = database_.Prepare(
      "SELECT device, type FROM device_services WHERE last_seen IS NULL ORDER BY device, type");
  while (rows->Step()) {
    if (const auto held = services.find(rows->Integer(0)); held != services.end()) {
      auto& list = *held->second;
      if (!list) {
        list.emplace();
      }
      list->push_back(rows->Text(1));
    }
  }
}

EarlierSweep Recorder::Present() const {
  EarlierSweep present;
  for (const KnownHost& known : book_.known) {
    if (known.present) {
      present.found.push_back(known.host);
      present.missesToGone.push_back(book_.goneAfter - known.missed);
    }
  }
  return present;
}

void Recorder::SeenBetweenSweeps(std::size_t index, std::int64_t now) {
  heardSinceCommit_.try_emplace(book_.known.at(index).record, book_.known[index]);
  controller::SeenBetweenSweeps(book_, index, now);
}

RecordedSweep Recorder::Record(const std::vector<SeenHost>& found,
                               const std::vector<Address>& swept, bool ipv6, std::int64_t now,
                               const EventTelling& telling) {
  std::vector<KnownHost> before = book_.known;
  for (KnownHost& known : before) {
    if (const auto heard = heardSinceCommit_.find(known.record); heard != heardSinceCommit_.end()) {
      known = heard->second;
    }
  }
  book_.awayAfterOf = telling.awayAfterOf;
  std::vector<WatchEvent> events = WatchRound(book_, found, SweepScope(swept, ipv6), now);
  RecordedSweep told;
  try {
    const std::size_t changes = events.size();
    told = Write(
        before, std::move(events),
        {.time = now, .swept = &swept, .ipv6 = ipv6, .found = found.size(), .changes = changes},
        telling);
  } catch (const std::runtime_error& error) {
    // What the round did to the book goes with the transaction.
    Load();
    throw SystemError(std::string("cannot record the sweep: ") + error.what() +
                      "; the state before it is kept");
  }
  committedRecord_ = book_.lastRecord;
  empty_ = false;
  heardSinceCommit_.clear();
  return told;
}

RecordedSweep Recorder::Write(const std::vector<KnownHost>& before, std::vector<WatchEvent> events,
                              const SweepSummaryRow& sweep, const EventTelling& telling) {
  Transaction transaction(database_);
  const std::int64_t sweepId = tables_.AddSweep(sweep);
  std::unordered_map<std::int64_t, const KnownHost*> committed;
  for (const KnownHost& known : before) {
    committed.emplace(known.record, &known);
  }
  // Only what the sweep changed is written: most devices are merely seen
  // again, which is one statement for them all.
  std::vector<std::int64_t> seenAgain;
  for (const KnownHost& known : book_.known) {
    const auto earlier = committed.find(known.record);
    const KnownHost* was = earlier == committed.end() ? nullptr : earlier->second;
    if (known.record > committedRecord_) {
      tables_.InsertDevice(known);
    } else if (was == nullptr || !SameRowButLastSeen(known, *was) ||
               (known.lastSeen != was->lastSeen && known.lastSeen != sweep.time)) {
      // (a host heard between sweeps and missed by this one was last seen then)
      tables_.UpdateDevice(known);
    } else if (known.lastSeen != was->lastSeen) {
      seenAgain.push_back(known.record);
    }
    const bool seenNow = known.present && known.lastSeen == sweep.time && known.missed == 0;
    if (seenNow && (was == nullptr || StoredFields(was->host) != StoredFields(known.host))) {
      tables_.SeeValues(known, sweep.time, was == nullptr ? sweep.time : was->lastSeen);
    }
    if (seenNow && ServicesChanged(known, was)) {
      tables_.SeeServices(known.record, *known.host.services, sweep.time,
                          was == nullptr ? sweep.time : was->lastSeen);
    }
  }
  tables_.SeeAgain(seenAgain, sweep.time);
  // Ids are given before the changes are weighed, so that a change keeps its
  // id whatever it is told as (a device gone that was expected: missing).
  std::int64_t nextId = tables_.NextEventId();
  for (WatchEvent& event : events) {
    event.id = nextId++;
  }
  RecordedSweep recorded{.told = telling.told ? telling.told(events, book_.known) : events};
  std::vector<WatchEvent>& told = recorded.told;
  for (WatchEvent& event : told) {
    if (event.id == 0) {
      event.id = nextId++;
    }
  }
  // Every host of a new database's first sweep is new: told one by one they
  // would be a flood of what was there all along. Recorded as they are, they
  // are not told; what the inventory adds (a device expected and absent) is.
  if (empty_ && !telling.announceExisting) {
    recorded.baseline = sweep.found;
    std::erase_if(told, [](const WatchEvent& event) { return event.change == Change::kNew; });
  }
  RecordEvents(sweepId, events, told, before);
  Enqueue(told, telling);
  transaction.Commit();
  return recorded;
}

// Each change as told, those left untold as they were, then the events the
// telling added. A host not present before (new, back, or moved back) begins
// a session.
void Recorder::RecordEvents(std::int64_t sweepId, const std::vector<WatchEvent>& round,
                            const std::vector<WatchEvent>& told,
                            const std::vector<KnownHost>& before) {
  std::unordered_map<std::int64_t, const WatchEvent*> byId;
  for (const WatchEvent& event : told) {
    byId.emplace(event.id, &event);
  }
  std::unordered_set<std::int64_t> present;
  for (const KnownHost& known : before) {
    if (known.present) {
      present.insert(known.record);
    }
  }
  for (const WatchEvent& event : round) {
    const auto as = byId.find(event.id);
    tables_.AddEvent(sweepId, as == byId.end() ? event : *as->second);
    if (event.change != Change::kGone && !present.contains(event.record)) {
      tables_.OpenSession(event.record, event.when);
    } else if (event.change == Change::kGone) {
      tables_.CloseSession(event.record, event.lastSeen);
    }
  }
  const std::int64_t lastOfRound = round.empty() ? 0 : round.back().id;
  for (const WatchEvent& event : told) {
    if (event.id > lastOfRound) {
      tables_.AddEvent(sweepId, event);
    }
  }
}

std::vector<LinkConflict> Recorder::OpenConflicts() const {
  const auto rows = database_.Prepare(
      "SELECT address, mac, other_mac, addresses FROM open_conflicts ORDER BY key");
  std::vector<LinkConflict> open;
  while (rows->Step()) {
    const auto mac = ParseMac(rows->Text(1));
    if (!mac) {
      continue;  // not ours to have written: nothing to tell of it
    }
    LinkConflict conflict{.address = ParseAddress(rows->Text(0)),
                          .mac = *mac,
                          .otherMac = ParseMac(rows->Text(2)),
                          .addresses = static_cast<std::size_t>(rows->Integer(3))};
    open.push_back(conflict);
  }
  return open;
}

std::vector<WatchEvent> Recorder::RecordConflicts(std::vector<WatchEvent> events,
                                                  const EventTelling& telling) {
  try {
    Transaction transaction(database_);
    const std::int64_t sweep = tables_.LastSweep();
    std::int64_t nextId = tables_.NextEventId();
    for (WatchEvent& event : events) {
      event.id = nextId++;
      tables_.AddEvent(sweep, event);
      if (event.change == Change::kConflict) {
        tables_.OpenConflict(*event.conflict, event.when);
      } else {
        tables_.CloseConflict(*event.conflict);
      }
    }
    Enqueue(events, telling);
    transaction.Commit();
  } catch (const std::runtime_error& error) {
    throw SystemError(std::string("cannot record a link conflict: ") + error.what());
  }
  return events;
}

void Recorder::Enqueue(const std::vector<WatchEvent>& told, const EventTelling& telling) {
  if (sinks_.empty()) {
    return;
  }
  for (const WatchEvent& event : told) {
    const std::string json =
        EventJson(EventOf(event, event.host.mac ? vendorOf_(*event.host.mac) : std::string{},
                          telling.factsOf ? telling.factsOf(event.host) : KnownFacts{}));
    for (const std::string& sink : sinks_) {
      queues_.Enqueue(sink, event.id, json);
    }
  }
}

}  // namespace hostsweep::controller
