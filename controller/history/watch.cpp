#include "controller/history/watch.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "common/text.h"
#include "controller/base/printable.h"
#include "controller/base/time_text.h"
#include "controller/model/json_fields.h"

namespace hostsweep::controller {
namespace {

// The records that did, or did not, answer the sweep before, and their hosts.
struct Records {
  std::vector<std::size_t> indices;
  std::vector<SeenHost> hosts;
};

Records RecordsWhere(const std::vector<KnownHost>& known, bool present) {
  Records records;
  for (std::size_t i = 0; i < known.size(); ++i) {
    if (known[i].present == present) {
      records.indices.push_back(i);
      records.hosts.push_back(known[i].host);
    }
  }
  return records;
}

// The record each found host takes: that of the host it is from the sweep
// before, else its own from an earlier visit, else a new one; and the change
// of one that came back: moved when its device MAC answers at another
// address, back otherwise.
struct Taken {
  std::vector<std::size_t> records;
  std::vector<std::optional<RowChange>> returns;
};

Taken RecordsOf(WatchBook& book, const Records& answered, const SweepComparison& comparison,
                const std::vector<SeenHost>& found, std::int64_t now) {
  std::vector<KnownHost>& known = book.known;
  Taken taken{.records = std::vector<std::size_t>(found.size()),
              .returns = std::vector<std::optional<RowChange>>(found.size())};
  std::vector<std::size_t> arrivals;
  std::vector<SeenHost> arriving;
  for (std::size_t c = 0; c < found.size(); ++c) {
    if (const auto& earlier = comparison.current[c].earlier) {
      taken.records[c] = answered.indices[*earlier];
    } else {
      arrivals.push_back(c);
      arriving.push_back(found[c]);
    }
  }
  if (arrivals.empty()) {
    return taken;  // the usual round: the hosts away need not be gone through
  }
  const Records away = RecordsWhere(known, false);
  const SweepComparison returns = FindReturningHosts(away.hosts, arriving);
  for (std::size_t a = 0; a < arrivals.size(); ++a) {
    const HostMatch& match = returns.current[a];
    if (match.earlier) {
      taken.records[arrivals[a]] = away.indices[*match.earlier];
      const bool moved = match.change == Change::kMoved && DeviceMac(arriving[a]).has_value();
      taken.returns[arrivals[a]] = moved ? RowChangeOf(match, away.hosts)
                                         : RowChange{.change = Change::kBack, .previous = {}};
    } else {
      known.push_back({.host = found[arrivals[a]],
                       .present = true,
                       .firstSeen = now,
                       .lastSeen = now,
                       .record = ++book.lastRecord});
      taken.records[arrivals[a]] = known.size() - 1;
    }
  }
  return taken;
}

// True when a sweep that misses the host now leaves it unseen long enough.
bool GoesAtThisMiss(int goneAfter, const AwayAfterOf& awayAfterOf, const KnownHost& record,
                    std::int64_t now) {
  const std::int64_t awayAfter = awayAfterOf ? awayAfterOf(record.host) : 0;
  return awayAfter > 0 ? now - record.lastSeen >= awayAfter : record.missed + 1 >= goneAfter;
}

// Counts the miss; true once the host has been unseen long enough.
bool MissedTillGone(const WatchBook& book, KnownHost& record, std::int64_t now) {
  const bool goes = GoesAtThisMiss(book.goneAfter, book.awayAfterOf, record, now);
  ++record.missed;
  return goes;
}

void ForgetLongestGone(std::vector<KnownHost>& known) {
  if (known.size() <= kMostKnownHosts) {
    return;
  }
  std::stable_sort(known.begin(), known.end(), [](const KnownHost& a, const KnownHost& b) {
    return a.present != b.present ? a.present : a.lastSeen > b.lastSeen;
  });
  const auto present = static_cast<std::size_t>(
      std::count_if(known.begin(), known.end(), [](const KnownHost& k) { return k.present; }));
  known.resize(std::max(kMostKnownHosts, present));
}

// As wide as the widest change ("mac-changed"), an IPv4 address, a name as
// most are, a MAC: wider values push the rest of their line along.
constexpr std::array<std::size_t, 4> kAlignedWidths{11, 15, 16, 17};

std::string AlignedLine(const WatchEvent& event, const std::string& mac, const std::string& vendor,
                        const KnownFacts& facts) {
  const std::string& who = facts.alias.empty() ? event.host.name : facts.alias;
  const std::array<std::string, 4> padded{std::string(ChangeText(event.change)),
                                          AddressText(event.host), Printable(who), mac};
  std::string line = TimeText(event.when, TimeZone::kLocal);
  for (std::size_t i = 0; i < padded.size(); ++i) {
    const std::size_t width = DisplayWidth(padded[i]);
    line += "  " + padded[i] +
            std::string(kAlignedWidths.at(i) - std::min(width, kAlignedWidths.at(i)), ' ');
  }
  line += "  " + Printable(vendor);
  if (!facts.owner.empty()) {
    line += "  owner " + Printable(facts.owner);
  }
  if (!event.previous.empty()) {
    line += "  was " + Printable(event.previous);
  }
  if (event.firstSeen != event.when) {
    line += "  first seen " + TimeText(event.firstSeen, TimeZone::kLocal);
  }
  return std::string(TrimEnd(line, " "));
}

}  // namespace

void SeenBetweenSweeps(WatchBook& book, std::size_t index, std::int64_t now) {
  KnownHost& record = book.known.at(index);
  record.lastSeen = std::max(record.lastSeen, now);
  record.missed = 0;
}

std::vector<WatchEvent> WatchRound(WatchBook& book, const std::vector<SeenHost>& found,
                                   const SweepScope& swept, std::int64_t now) {
  std::vector<KnownHost>& known = book.known;
  const Records answered = RecordsWhere(known, true);
  const SweepComparison comparison = CompareSweeps(answered.hosts, found);
  const Taken taken = RecordsOf(book, answered, comparison, found, now);
  std::vector<WatchEvent> events;
  for (std::size_t c = 0; c < found.size(); ++c) {
    KnownHost& record = known[taken.records[c]];
    RowChange change =
        taken.returns[c].value_or(RowChangeOf(comparison.current[c], answered.hosts));
    // A host heard between sweeps said nothing of its name or type: the
    // sweep's are its first, no change.
    if (HeardBetweenSweeps(record.host) && !HeardBetweenSweeps(found[c]) &&
        (change.change == Change::kRenamed || change.change == Change::kRetyped)) {
      change = {};
    }
    // A sweep that did not ask the device leaves its services as they were.
    std::optional<std::vector<std::string>> services = std::move(record.host.services);
    record.host = found[c];
    if (!record.host.services) {
      record.host.services = std::move(services);
    }
    record.present = true;
    record.lastSeen = now;
    record.missed = 0;
    if (change.change != Change::kNone) {
      events.push_back({.when = now,
                        .change = change.change,
                        .host = found[c],
                        .previous = change.previous,
                        .firstSeen = record.firstSeen,
                        .lastSeen = now,
                        .record = record.record});
    }
  }
  for (const std::size_t index : comparison.unmatched) {
    KnownHost& record = known[answered.indices[index]];
    if (swept.Covers(record.host) && MissedTillGone(book, record, now)) {
      record.present = false;
      record.missed = 0;
      events.push_back({.when = now,
                        .change = Change::kGone,
                        .host = record.host,
                        .previous = {},
                        .firstSeen = record.firstSeen,
                        .lastSeen = record.lastSeen,
                        .record = record.record});
    }
  }
  ForgetLongestGone(known);
  return events;
}

std::vector<SeenHost> AboutToGo(const std::vector<KnownHost>& known, int goneAfter,
                                const AwayAfterOf& awayAfterOf, const std::vector<SeenHost>& found,
                                const SweepScope& swept, std::int64_t now) {
  const Records answered = RecordsWhere(known, true);
  std::vector<SeenHost> going;
  for (const std::size_t index : CompareSweeps(answered.hosts, found).unmatched) {
    const KnownHost& record = known[answered.indices[index]];
    if (swept.Covers(record.host) && GoesAtThisMiss(goneAfter, awayAfterOf, record, now)) {
      going.push_back(record.host);
    }
  }
  return going;
}

void AskBeforeGone(SweepRows& rows, const std::vector<KnownHost>& known, int goneAfter,
                   const AwayAfterOf& awayAfterOf, std::int64_t now, const LastCall& ask) {
  const std::vector<SeenHost> going =
      AboutToGo(known, goneAfter, awayAfterOf, rows.Found(), rows.Swept(), now);
  if (!going.empty()) {
    rows.Heard(ask(going));
  }
}

std::string WatchLine(const WatchEvent& event, const VendorOf& vendorOf, WatchLineForm form,
                      const KnownFacts& facts) {
  const std::string mac = event.host.mac ? FormatMac(*event.host.mac) : std::string{};
  const std::string vendor = event.host.mac ? vendorOf(*event.host.mac) : std::string{};
  if (form == WatchLineForm::kAligned) {
    return AlignedLine(event, mac, vendor, facts);
  }
  if (form == WatchLineForm::kJson) {
    using namespace json_key;
    Json line;
    line[kTime] = UtcText(event.when);
    line[kChange] = ChangeText(event.change);
    line[kAddress] = AddressText(event.host);
    line[kPrevious] = OrNull(event.previous);
    line[kName] = OrNull(event.host.name);
    line[kMac] = OrNull(mac);
    line[kVendor] = OrNull(vendor);
    line[kFirstSeen] = UtcText(event.firstSeen);
    line[kLastSeen] = UtcText(event.lastSeen);
    line[kAlias] = OrNull(facts.alias);
    line[kOwner] = OrNull(facts.owner);
    return JsonText(line);
  }
  // Every field in its place, an empty one too, so that scripts can split on
  // tabs; those added later come last, where no script counted before.
  const std::array<std::string, 9> fields{std::string(ChangeText(event.change)),
                                          AddressText(event.host),
                                          event.host.name,
                                          mac,
                                          vendor,
                                          event.previous,
                                          UtcText(event.firstSeen),
                                          facts.alias,
                                          facts.owner};
  std::string line = UtcText(event.when);
  for (const std::string& field : fields) {
    line += '\t' + Printable(field);
  }
  return line;
}

std::string Heartbeat(std::int64_t now, std::size_t swept, std::size_t found, std::size_t changes,
                      TimeZone zone) {
  constexpr std::size_t kTimeOfDay = 11;  // "2026-12-08T" (or a space) before it
  return "hostsweep: " + TimeText(now, zone).substr(kTimeOfDay, 8) + " " + std::to_string(swept) +
         " swept, " + std::to_string(found) + " found, " + std::to_string(changes) +
         (changes == 1 ? " change" : " changes");
}

void SweepRows::Skip(const HostView& view) {
  // An unchecked address was not looked at: what it held is not gone.
  if (!view.ipv6Only && view.state != State::kUnchecked) {
    swept_.push_back(view.address);
  }
  if (IsFound(view.state)) {
    found_.push_back(SeenHostOf(view));
  }
}

std::vector<WatchEvent> InventoryEvents(std::vector<WatchEvent> events, const Inventory& inventory,
                                        const SweepRows& rows, const std::vector<KnownHost>& known,
                                        bool firstSweep, bool unknownOnly, std::int64_t now) {
  std::vector<WatchEvent> kept;
  std::vector<const KnownDevice*> told;
  for (WatchEvent& event : events) {
    const KnownDevice* device = inventory.Find(event.host);
    const Expect expect = device != nullptr ? device->facts.expect : Expect::kAny;
    if (expect == Expect::kIgnore || (unknownOnly && device != nullptr)) {
      continue;
    }
    if (expect == Expect::kAlways && event.change == Change::kGone) {
      event.change = Change::kMissing;
      told.push_back(device);
    }
    kept.push_back(std::move(event));
  }
  if (!firstSweep || unknownOnly) {
    return kept;
  }
  std::vector<SeenHost> earlier;
  earlier.reserve(known.size());
  for (const KnownHost& record : known) {
    earlier.push_back(record.host);
  }
  for (const MissingDevice& missing :
       MissingDevices(inventory, rows.Found(), rows.Swept(), earlier)) {
    if (std::find(told.begin(), told.end(), missing.device) != told.end()) {
      continue;
    }
    // Seen before this watch began: when, as for a host gone.
    const auto record = std::find_if(known.begin(), known.end(), [&](const KnownHost& k) {
      return inventory.Find(k.host) == missing.device;
    });
    const bool seen = record != known.end();
    kept.push_back({.when = now,
                    .change = Change::kMissing,
                    .host = missing.place,
                    .firstSeen = seen ? record->firstSeen : now,
                    .lastSeen = seen ? record->lastSeen : now,
                    .record = seen ? record->record : 0});
  }
  return kept;
}

}  // namespace hostsweep::controller
