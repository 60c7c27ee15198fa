// What a recorded sweep leaves for those who show the network's state
// rather than its changes (--metrics, --metrics-listen, MQTT's retained
// device states and Home Assistant's discovery).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "controller/base/link_conflict.h"
#include "controller/base/results.h"
#include "controller/history/sweep_diff.h"

namespace hostsweep::controller {

struct DeviceStatus {
  std::int64_t id = 0;  // the device's id in the state database
  SeenHost host{};      // as last seen
  std::string vendor{};
  KnownFacts known{};
  bool present = false;  // answered recently (not gone)
  bool missing = false;  // the inventory expects it always and it is not present
  std::int64_t firstSeen = 0;
  std::int64_t lastSeen = 0;
};

struct SinkStatus {
  std::string name{};         // as EventSink::Name
  std::size_t queued = 0;     // events waiting for its receiver
  std::uint64_t dropped = 0;  // oldest events dropped from its full queue, ever
};

struct SweepReport {
  std::int64_t time = 0;  // when the sweep ended, seconds since the epoch
  std::chrono::milliseconds duration{};
  std::size_t swept = 0;                         // addresses swept
  std::vector<DeviceStatus> devices{};           // every device the state database holds in memory
  std::map<Change, std::uint64_t> eventsTold{};  // since the process started
  std::vector<SinkStatus> sinks{};
  // The link conflicts open: heard by the sweep, or between it and the one
  // before, and not yet ended.
  std::vector<LinkConflict> conflicts{};
};

class SweepObserver {
 public:
  SweepObserver() = default;
  SweepObserver(const SweepObserver&) = delete;
  SweepObserver& operator=(const SweepObserver&) = delete;
  virtual ~SweepObserver() = default;
  // After each sweep is recorded (a sweep that could not be: not at all).
  // Bounded in time like a delivery; throws nothing for a receiver's fault.
  virtual void SweepEnded(const SweepReport& report) = 0;
};

}  // namespace hostsweep::controller
