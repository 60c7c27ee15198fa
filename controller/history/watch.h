// --watch: each sweep matched with the hosts known so far, and each change
// told once, as it is seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "controller/base/link_conflict.h"
#include "controller/base/time_text.h"
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
  std::int64_t record = 0;  // the host's KnownHost::record
  std::int64_t id = 0;      // the state database's id for it, once recorded (--state)
  std::optional<LinkConflict> conflict{};  // kConflict and kConflictEnded's
  bool operator==(const WatchEvent&) const = default;
};

// Hosts that come and go under ever new randomised MACs or addresses would
// grow what the watch keeps for ever: past this many, those gone longest are
// forgotten.
inline constexpr std::size_t kMostKnownHosts = 100'000;

// How long a host may go unseen before it is gone, in seconds; 0: by the
// count of sweeps that missed it.
using AwayAfterOf = std::function<std::int64_t(const SeenHost&)>;

// What the watch knows across its sweeps.
struct WatchBook {
  std::vector<KnownHost> known{};
  std::int64_t lastRecord = 0;  // the last record number given; none is given twice
  // Sweeps in a row, each covering a host that answered, that must miss it
  // before it is gone: one missed echo and ARP answer is no departure.
  int goneAfter = 1;
  // How long a host may go unseen before it is gone, in seconds (its
  // --known away_after, else --away-after), in goneAfter's place: a phone
  // that dozes skips more sweeps the shorter they are apart. 0 or none:
  // goneAfter.
  AwayAfterOf awayAfterOf{};
};

// Matches the hosts found by one sweep of `swept` with those present
// (CompareSweeps), and the rest with those that were away
// (FindReturningHosts); brings `book` up to date, and says what changed. A
// host that comes back is back (moved, when its device MAC answers at
// another address) and keeps when it was first seen; a present host is gone
// once, when `goneAfter` sweeps in a row missed it, or where `awayAfterOf`
// gives it a time, once a sweep that missed it finds that time unseen up.
// Past kMostKnownHosts, those gone longest are forgotten.
std::vector<WatchEvent> WatchRound(WatchBook& book, const std::vector<SeenHost>& found,
                                   const SweepScope& swept, std::int64_t now);

// The present hosts of `known` that the sweep of `swept`, which found
// `found`, missed, and that this miss makes gone by WatchRound's rule: each
// once, as last seen.
std::vector<SeenHost> AboutToGo(const std::vector<KnownHost>& known, int goneAfter,
                                const AwayAfterOf& awayAfterOf, const std::vector<SeenHost>& found,
                                const SweepScope& swept, std::int64_t now);

// The present host `book.known[index]` heard between sweeps at `now`: its
// time away and its misses count again from there, as if a sweep had found it.
void SeenBetweenSweeps(WatchBook& book, std::size_t index, std::int64_t now);

enum class WatchLineForm {
  kTabs,     // tab-separated fields, each present even when empty, times in UTC
  kAligned,  // for a terminal: columns lined up, times local
  kJson,
};

// The fields: time, change, address, name, mac, vendor, previous, first seen,
// then what the inventory (--known) says: alias and owner. Aligned, the alias
// stands for the name where there is one, and "owner OWNER", "was PREVIOUS"
// and "first seen TIME" close the line, each only when there is one (the
// last when it is not the line's time).
std::string WatchLine(const WatchEvent& event, const VendorOf& vendorOf, WatchLineForm form,
                      const KnownFacts& facts = {});

// With -v, a line per sweep on standard error, so that a quiet watch is seen
// to run: the time of day in `zone` (as the lines' times), the addresses
// swept, the hosts found and the changes told.
std::string Heartbeat(std::int64_t now, std::size_t swept, std::size_t found, std::size_t changes,
                      TimeZone zone = TimeZone::kUtc);

// The rows of one sweep of the watch, shown or not.
class SweepRows : public ResultWriter {
 public:
  // `ipv6`: the sweep asks the swept links' IPv6 nodes too (--ipv6).
  explicit SweepRows(bool ipv6) : ipv6_(ipv6) {}
  void Write(const HostView& view) override { Skip(view); }
  void Skip(const HostView& view) override;
  void Finish(SweepEnd /*end*/) override {}
  [[nodiscard]] const std::vector<SeenHost>& Found() const { return found_; }
  // Hosts heard after the sweep (AskBeforeGone), found as its own are.
  void Heard(const std::vector<SeenHost>& hosts) {
    found_.insert(found_.end(), hosts.begin(), hosts.end());
  }
  [[nodiscard]] SweepScope Swept() const { return {swept_, ipv6_}; }
  [[nodiscard]] const std::vector<Address>& SweptAddresses() const { return swept_; }
  [[nodiscard]] std::size_t SweptCount() const { return swept_.size(); }

 private:
  bool ipv6_;
  std::vector<SeenHost> found_;
  std::vector<Address> swept_;
};

// Asks every host given one last question, all at once and in bounded time;
// returns those that answered, as given, with `seenBy` saying how.
using LastCall = std::function<std::vector<SeenHost>(const std::vector<SeenHost>& hosts)>;

// Before the sweep of `rows` is matched: each host it would make gone
// (AboutToGo) is asked by `ask`, and those that answer count as found. A
// phone that dozes through echo requests and ARP broadcasts often still
// answers a question put to it directly; only silence makes it gone.
void AskBeforeGone(SweepRows& rows, const std::vector<KnownHost>& known, int goneAfter,
                   const AwayAfterOf& awayAfterOf, std::int64_t now, const LastCall& ask);

// The round's events as the inventory (--known) has them: none for a device
// it ignores (with `unknownOnly`, none for any device it knows); a device it
// expects always is missing rather than gone, and at the watch's first sweep
// also where it has not been found at all, so that each absence is told once.
std::vector<WatchEvent> InventoryEvents(std::vector<WatchEvent> events, const Inventory& inventory,
                                        const SweepRows& rows, const std::vector<KnownHost>& known,
                                        bool firstSweep, bool unknownOnly, std::int64_t now);

}  // namespace hostsweep::controller
