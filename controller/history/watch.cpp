#include "controller/history/watch.h"

#include <algorithm>
#include <optional>

#include "controller/base/printable.h"
#include "controller/base/time_text.h"
#include "controller/output/json_fields.h"

namespace hostsweep::controller {
namespace {

bool SameIdentity(const SeenHost& known, const SeenHost& found) {
  if (IdentifiesDevice(found)) {
    return IdentifiesDevice(known) && known.mac == found.mac;
  }
  return known.address == found.address && known.name == found.name;
}

// The record a newly found host takes: its own from an earlier visit, else a new one.
std::size_t RecordOf(std::vector<KnownHost>& known, const SeenHost& found, std::int64_t now) {
  const auto earlier = std::find_if(known.begin(), known.end(), [&found](const KnownHost& record) {
    return !record.present && SameIdentity(record.host, found);
  });
  if (earlier != known.end()) {
    return static_cast<std::size_t>(earlier - known.begin());
  }
  known.push_back({.host = found, .present = true, .firstSeen = now, .lastSeen = now});
  return known.size() - 1;
}

// Hosts that come and go under ever new randomised MACs or addresses would
// grow the state for ever: past this many (some 20 MB of state), the hosts
// gone longest are forgotten.
constexpr std::size_t kMostKnownHosts = 100'000;

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

}  // namespace

std::vector<WatchEvent> WatchRound(std::vector<KnownHost>& known,
                                   const std::vector<SeenHost>& found,
                                   const std::vector<Address>& swept, std::int64_t now) {
  std::vector<std::size_t> answered;
  std::vector<SeenHost> earlier;
  for (std::size_t i = 0; i < known.size(); ++i) {
    if (known[i].present) {
      answered.push_back(i);
      earlier.push_back(known[i].host);
    }
  }
  const SweepComparison comparison = CompareSweeps(earlier, found);
  std::vector<Address> covered = swept;
  std::sort(covered.begin(), covered.end());
  std::vector<WatchEvent> events;
  for (std::size_t c = 0; c < found.size(); ++c) {
    const HostMatch& match = comparison.current[c];
    const std::size_t record =
        match.earlier ? answered[*match.earlier] : RecordOf(known, found[c], now);
    known[record].host = found[c];
    known[record].present = true;
    known[record].lastSeen = now;
    if (match.change != Change::kNone) {
      events.push_back({.when = now,
                        .change = match.change,
                        .host = found[c],
                        .previous = RowChangeOf(match, earlier).previous,
                        .firstSeen = known[record].firstSeen,
                        .lastSeen = now});
    }
  }
  for (const std::size_t index : comparison.unmatched) {
    KnownHost& record = known[answered[index]];
    if (std::binary_search(covered.begin(), covered.end(), record.host.address)) {
      record.present = false;
      events.push_back({.when = now,
                        .change = Change::kGone,
                        .host = record.host,
                        .previous = {},
                        .firstSeen = record.firstSeen,
                        .lastSeen = record.lastSeen});
    }
  }
  ForgetLongestGone(known);
  return events;
}

std::string WatchLine(const WatchEvent& event, const VendorOf& vendorOf, bool json) {
  const std::string mac = event.host.mac ? FormatMac(*event.host.mac) : std::string{};
  const std::string vendor = event.host.mac ? vendorOf(*event.host.mac) : std::string{};
  if (json) {
    using namespace json_key;
    Json line;
    line[kTime] = UtcText(event.when);
    line[kChange] = ChangeText(event.change);
    line[kAddress] = FormatAddress(event.host.address);
    line[kPrevious] = OrNull(event.previous);
    line[kName] = OrNull(event.host.name);
    line[kMac] = OrNull(mac);
    line[kVendor] = OrNull(vendor);
    line[kFirstSeen] = UtcText(event.firstSeen);
    line[kLastSeen] = UtcText(event.lastSeen);
    return JsonText(line);
  }
  std::string line = UtcText(event.when) + "  " + std::string(ChangeText(event.change)) + "  " +
                     FormatAddress(event.host.address);
  for (const std::string* part : {&event.host.name, &mac, &vendor}) {
    line += part->empty() ? "" : "  " + Printable(*part);
  }
  if (!event.previous.empty()) {
    line += "  (was " + Printable(event.previous) + ")";
  }
  return line + "  first seen " + UtcText(event.firstSeen);
}

void SweepRows::Skip(const HostView& view) {
  swept_.push_back(view.address);
  if (IsFound(view.state)) {
    found_.push_back(SeenHostOf(view));
  }
}

}  // namespace hostsweep::controller
