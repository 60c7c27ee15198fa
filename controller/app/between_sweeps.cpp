#include "controller/app/between_sweeps.h"

#include <chrono>
#include <iostream>
#include <utility>
#include <variant>

#include "controller/base/link_conflict.h"
#include "controller/base/time_text.h"

namespace hostsweep::controller {

BetweenSweeps::BetweenSweeps(RunPlan& plan, AfterSweep& after, Tell tell,
                             std::function<void()> deliver)
    : plan_(plan),
      after_(after),
      tell_(std::move(tell)),
      deliver_(std::move(deliver)),
      targets_(plan.addresses.begin(), plan.addresses.end()),
      passive_(plan.heard) {
  if (plan.passive != nullptr) {
    listener_.emplace(plan.loop, *plan.passive, [this](const Sighting& s) { Hear(s); });
  } else if (plan.options.verbose) {
    std::cerr << "hostsweep: " << plan.whyNoPassive << "\n";
  }
}

void BetweenSweeps::SweepRecorded() {
  present_ = PresentHosts(after_.Known());
  recorded_ = true;
}

void BetweenSweeps::Hear(const Sighting& sighting) {
  if (!recorded_ || (sighting.address && !targets_.contains(*sighting.address))) {
    return;
  }
  const auto now = EpochSeconds(std::chrono::system_clock::now());
  const PassiveVerdict verdict = passive_.Weigh(
      sighting, [this](Address address) { return present_.HolderOf(address); }, now);
  if (const auto* conflict = std::get_if<LinkConflict>(&verdict)) {
    if (!after_.ConflictHeard(*conflict, now).empty()) {
      deliver_();
    }
    return;
  }
  const auto* host = std::get_if<SeenHost>(&verdict);
  if (host == nullptr) {
    return;
  }
  if (const auto record = present_.RecordOf(*host->mac)) {
    after_.SeenBetweenSweeps(*record, now);
    return;
  }
  TellArrival(*host, now);
}

// As a sweep's events, of a sweep that found `host` and swept nothing.
void BetweenSweeps::TellArrival(const SeenHost& host, std::int64_t now) {
  const SweepRows none(plan_.options.ipv6);
  if (const auto events = after_.WatchEvents({host}, none, now)) {
    tell_(*events);
    present_ = PresentHosts(after_.Known());
  }
}

}  // namespace hostsweep::controller
