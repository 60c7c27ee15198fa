// --watch: each sweep matched with the hosts known so far, and each change
// told once, as it is seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "controller/history/earlier_results.h"
#include "controller/history/missing_devices.h"
#include "controller/output/result_stream.h"

namespace hostsweep::controller {

struct WatchEvent {
  std::int64_t when = 0;  // seconds since the epoch
  Change change = Change::kNone;
  SeenHost host;           // as found now; a gone host as last seen
  std::string previous{};  // as RowChange's
  std::int64_t firstSeen = 0;
  std::int64_t lastSeen = 0;
  bool operator==(const WatchEvent&) const = default;
};

// Matches the hosts found by one sweep of `swept` with those
// that answered the sweep before (CompareSweeps), and the rest with those
// that were away (FindReturningHosts); brings `known` up to date, and says
// what changed. A host that comes back is new again but keeps when it was
// first seen; a host that answered before and not now is gone once.
// Past 100000 known hosts, those gone longest are forgotten.
std::vector<WatchEvent> WatchRound(std::vector<KnownHost>& known,
                                   const std::vector<SeenHost>& found, const SweepScope& swept,
                                   std::int64_t now);

// A line of tab-separated fields, each present even when empty: time, change,
// address, name, mac, vendor, previous, first seen; a JSON object with `json`.
std::string WatchLine(const WatchEvent& event, const VendorOf& vendorOf, bool json);

// With -v, a line per sweep on standard error, so that a quiet watch is seen
// to run: the time of day in UTC (as the lines' times), the addresses swept,
// the hosts found and the changes told.
std::string Heartbeat(std::int64_t now, std::size_t swept, std::size_t found, std::size_t changes);

// The rows of one sweep of the watch, shown or not.
class SweepRows : public ResultWriter {
 public:
  // `ipv6`: the sweep asks the swept links' IPv6 nodes too (--ipv6).
  explicit SweepRows(bool ipv6) : ipv6_(ipv6) {}
  void Write(const HostView& view) override { Skip(view); }
  void Skip(const HostView& view) override;
  void Finish(SweepEnd /*end*/) override {}
  [[nodiscard]] const std::vector<SeenHost>& Found() const { return found_; }
  [[nodiscard]] SweepScope Swept() const { return {swept_, ipv6_}; }
  [[nodiscard]] std::size_t SweptCount() const { return swept_.size(); }

 private:
  bool ipv6_;
  std::vector<SeenHost> found_;
  std::vector<Address> swept_;
};

// The round's events as the inventory (--known) has them: none for a device
// it ignores (with `unknownOnly`, none for any device it knows); a device it
// expects always is missing rather than gone, and at the watch's first sweep
// also where it has not been found at all, so that each absence is told once.
std::vector<WatchEvent> InventoryEvents(std::vector<WatchEvent> events, const Inventory& inventory,
                                        const SweepRows& rows, const std::vector<KnownHost>& known,
                                        bool firstSweep, bool unknownOnly, std::int64_t now);

}  // namespace hostsweep::controller
