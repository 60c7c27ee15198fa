#include "controller/history/conflict_events.h"

#include <algorithm>

namespace hostsweep::controller {
namespace {

const KnownHost* DeviceAnswering(const LinkConflict& conflict,
                                 const std::vector<KnownHost>& known) {
  const KnownHost* found = nullptr;
  for (const KnownHost& device : known) {
    if (device.host.mac != conflict.mac) {
      continue;
    }
    if (conflict.address && device.host.address == *conflict.address && device.host.ipv6.empty()) {
      return &device;
    }
    if (found == nullptr || (device.present && !found->present)) {
      found = &device;
    }
  }
  return found;
}

WatchEvent EventOf(Change change, const LinkConflict& conflict, const std::vector<KnownHost>& known,
                   std::int64_t now) {
  WatchEvent event{.when = now,
                   .change = change,
                   .host = {.mac = conflict.mac},
                   .firstSeen = now,
                   .lastSeen = now,
                   .conflict = conflict};
  if (const KnownHost* device = DeviceAnswering(conflict, known)) {
    event.host = device->host;
    event.firstSeen = device->firstSeen;
    event.lastSeen = device->lastSeen;
    event.record = device->record;
  }
  if (conflict.address) {
    event.host.address = *conflict.address;
    event.host.ipv6.clear();
  }
  return event;
}

}  // namespace

std::vector<WatchEvent> ConflictEvents(const ConflictChanges& changes,
                                       const std::vector<KnownHost>& known, std::int64_t now) {
  std::vector<WatchEvent> events;
  for (const LinkConflict& conflict : changes.started) {
    events.push_back(EventOf(Change::kConflict, conflict, known, now));
  }
  for (const LinkConflict& conflict : changes.ended) {
    events.push_back(EventOf(Change::kConflictEnded, conflict, known, now));
  }
  return events;
}

}  // namespace hostsweep::controller
