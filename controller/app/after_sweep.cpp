#include "controller/app/after_sweep.h"

#include <iostream>
#include <string>
#include <utility>

#include "controller/app/event_receivers.h"
#include "controller/base/errors.h"
#include "controller/events/sweep_report.h"
#include "controller/inventory/inventory.h"
#include "controller/state/state_store.h"

namespace hostsweep::controller {
namespace {

// How long each device may go unseen: its own away_after (--known), else
// --away-after.
AwayAfterOf AwayAfterFor(const RunPlan& plan) {
  return [inventory = plan.inventory,
          awayAfter = plan.options.awayAfter.count()](const SeenHost& host) {
    const std::int64_t own = FactsOf(inventory, host).awayAfter;
    return own > 0 ? own : awayAfter;
  };
}

// The round's changes as the watch tells them: as they are, or as the
// inventory (--known) weighs them. `firstSweep`: the absences of devices it
// expects always are told too.
EventTelling TellingFor(const RunPlan& plan, const SweepRows& rows, bool firstSweep,
                        std::int64_t now) {
  const Inventory* inventory = plan.inventory;
  EventTelling telling{.awayAfterOf = AwayAfterFor(plan),
                       .announceExisting = plan.options.announceExisting};
  if (inventory == nullptr) {
    return telling;
  }
  const bool unknownOnly = plan.options.unknownOnly;
  telling.told = [inventory, &rows, firstSweep, unknownOnly, now](
                     std::vector<WatchEvent> round, const std::vector<KnownHost>& known) {
    return InventoryEvents(std::move(round), *inventory, rows, known, firstSweep, unknownOnly, now);
  };
  telling.factsOf = [inventory](const SeenHost& host) { return FactsOf(inventory, host); };
  return telling;
}

// Only whole sweeps are recorded. A baseline is said in the one line that
// stands for its hosts.
std::optional<std::vector<WatchEvent>> Recorded(StateStore& store,
                                                const std::vector<SeenHost>& found,
                                                const std::vector<Address>& swept, bool ipv6,
                                                std::int64_t now, const EventTelling& telling) {
  try {
    RecordedSweep recorded = store.Record(found, swept, ipv6, now, telling);
    if (recorded.baseline) {
      std::cerr << "hostsweep: " << *recorded.baseline
                << (*recorded.baseline == 1 ? " device" : " devices")
                << " recorded; changes are told from now on\n";
    }
    return std::move(recorded.told);
  } catch (const SystemError& error) {
    std::cerr << "hostsweep: --state: " << error.what() << "\n";
    return std::nullopt;
  }
}

std::optional<Dispatcher> DispatcherFor(const Receivers& receivers, StateStore* store) {
  std::optional<Dispatcher> dispatcher;
  if (store != nullptr && !receivers.sinks.empty()) {
    dispatcher.emplace(store->Queues(), receivers.Sinks(), std::cerr);
  }
  return dispatcher;
}

std::chrono::milliseconds SinceThen(std::chrono::steady_clock::time_point then) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               then);
}

}  // namespace

AfterSweep::AfterSweep(const RunPlan& plan, bool firstSweep)
    : plan_(plan),
      firstSweep_(firstSweep),
      book_{.goneAfter = plan.options.goneAfter},
      // A --state sweep has said what it heard before it is recorded.
      conflicts_(plan.store.get(), plan.inventory,
                 !plan.options.watchInterval || plan.options.quiet),
      dispatcher_(DispatcherFor(plan.receivers, plan.store.get())) {}

std::optional<std::vector<WatchEvent>> AfterSweep::WatchEvents(const std::vector<SeenHost>& found,
                                                               const SweepRows& rows,
                                                               std::int64_t now) {
  const EventTelling telling = TellingFor(plan_, rows, firstSweep_, now);
  if (plan_.store != nullptr) {
    return Recorded(*plan_.store, found, rows.SweptAddresses(), plan_.options.ipv6, now, telling);
  }
  book_.awayAfterOf = telling.awayAfterOf;
  std::vector<WatchEvent> events = WatchRound(book_, found, rows.Swept(), now);
  return telling.told ? telling.told(std::move(events), book_.known) : events;
}

void AfterSweep::AskBeforeGone(SweepRows& rows, std::int64_t now, const LastCall& ask) const {
  controller::AskBeforeGone(rows, Known(), plan_.options.goneAfter, AwayAfterFor(plan_), now, ask);
}

void AfterSweep::SweepRecorded(const std::vector<WatchEvent>& events, const SweepRows& rows,
                               const std::vector<LinkConflict>& heard,
                               std::chrono::steady_clock::time_point began, std::int64_t now) {
  firstSweep_ = false;
  Count(events);
  Count(conflicts_.SweepHeard(heard, Known(), now));
  const Receivers& receivers = plan_.receivers;
  if (receivers.observers.empty()) {
    return;
  }
  SweepReport report{.time = now,
                     .duration = SinceThen(began),
                     .swept = rows.SweptCount(),
                     .devices = DeviceStatuses(Known(), plan_.inventory, plan_.vendorOf),
                     .eventsTold = eventsTold_,
                     .conflicts = conflicts_.Open()};
  if (plan_.store != nullptr) {
    for (const std::string& name : receivers.QueueNames()) {
      report.sinks.push_back(plan_.store->Queues().Status(name));
    }
  }
  for (SweepObserver* observer : receivers.observers) {
    observer->SweepEnded(report);
  }
}

std::vector<WatchEvent> AfterSweep::ConflictHeard(const LinkConflict& conflict, std::int64_t now) {
  std::vector<WatchEvent> told = conflicts_.Heard(conflict, Known(), now);
  Count(told);
  return told;
}

void AfterSweep::Told(const std::vector<WatchEvent>& events,
                      std::chrono::steady_clock::time_point until) {
  Count(events);
  Deliver(until);
}

void AfterSweep::Deliver(std::chrono::steady_clock::time_point until) {
  if (dispatcher_) {
    dispatcher_->SweepRecorded(until);
  }
}

const std::vector<KnownHost>& AfterSweep::Known() const {
  return plan_.store != nullptr ? plan_.store->Known() : book_.known;
}

void AfterSweep::Count(const std::vector<WatchEvent>& events) {
  for (const WatchEvent& event : events) {
    ++eventsTold_[event.change];
  }
}

void AfterSweep::SeenBetweenSweeps(std::size_t record, std::int64_t now) {
  if (plan_.store != nullptr) {
    plan_.store->SeenBetweenSweeps(record, now);
  } else {
    controller::SeenBetweenSweeps(book_, record, now);
  }
}

}  // namespace hostsweep::controller
