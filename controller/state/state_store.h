// --state FILE and --history, as the run sees them: the state database
// behind two calls, so that a build without SQLite (Windows) can refuse both
// with a plain message.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "controller/base/time_text.h"
#include "controller/events/event_queue.h"
#include "controller/history/earlier_results.h"
#include "controller/history/watch.h"
#include "controller/inventory/inventory.h"
#include "controller/output/result_writer.h"

namespace hostsweep::controller {

// What turns a sweep's changes into the events the watch tells: --known
// leaves some out, calls some missing and adds the absences it expects to be
// told. Every change is recorded, each told event queued for every sink in
// the same transaction.
struct EventTelling {
  // The round's changes, each with the id it is recorded under, as told; an
  // event added has id 0 and is given the next. None: told as they are.
  std::function<std::vector<WatchEvent>(std::vector<WatchEvent> round,
                                        const std::vector<KnownHost>& known)>
      told{};
  // What the inventory says of a device; none: nothing.
  std::function<KnownFacts(const SeenHost&)> factsOf{};
  // How long each device may go unseen before it is gone (WatchBook's).
  std::function<std::int64_t(const SeenHost&)> awayAfterOf{};
  // --announce-existing: the first sweep of a new database tells each host
  // new, rather than recording them as its baseline.
  bool announceExisting = false;
};

// What recording a sweep told.
struct RecordedSweep {
  std::vector<WatchEvent> told{};  // with their ids
  // The first sweep of a new database: the hosts it found, recorded as the
  // baseline and not told one by one; none for any other sweep.
  std::optional<std::size_t> baseline{};
};

class StateStore {
 public:
  virtual ~StateStore() = default;
  // The hosts present, each with the misses it has left before it is gone.
  [[nodiscard]] virtual EarlierSweep Present() const = 0;
  // Every host it knows, present or away, and when it saw each.
  [[nodiscard]] virtual const std::vector<KnownHost>& Known() const = 0;
  // As Recorder::Record.
  virtual RecordedSweep Record(const std::vector<SeenHost>& found,
                               const std::vector<Address>& swept, bool ipv6, std::int64_t now,
                               const EventTelling& telling) = 0;
  // A present host heard between sweeps, `index` in Known(): its away_after
  // counts from `now`, after a restart too. Throws SystemError when it
  // cannot be kept.
  virtual void SeenAgain(std::size_t index, std::int64_t now) = 0;
  // The queues of the sinks it was opened for.
  virtual EventQueue& Queues() = 0;
};

// Opens FILE for writing, held for the store's life: created when missing,
// a watch's JSON state file carried over first; each event told is queued
// for each of `sinks`. Throws EarlierResultsError, SystemError, and
// UsageError where the build has no state database.
std::unique_ptr<StateStore> OpenStateStore(const std::filesystem::path& path, int goneAfter,
                                           const VendorOf& vendorOf,
                                           const std::vector<std::string>& sinks = {});

// --history [WHO]: every device FILE knows (or those that have had WHO as
// address, MAC or name), with its sessions and past values, in `format`;
// with `inventory`, what it says of each; the table's times in `tableZone`.
// Returns how many were written. Throws as OpenStateStore.
std::size_t WriteHistory(const std::filesystem::path& path, const std::string& who, Format format,
                         const Inventory* inventory, std::ostream& out,
                         TimeZone tableZone = TimeZone::kUtc);

}  // namespace hostsweep::controller
