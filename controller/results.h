// The sweep's results: one per address, filled in from the workers' reports.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controller/targets.h"

namespace hostsweep::controller {

enum class State {
  kPending,   // no report yet
  kAlive,     // answered the echo request
  kDead,      // did not answer twice
  kNamed,     // name-only sweep: the address has a name
  kUnnamed,   // name-only sweep: it has none
  kNoReport,  // the worker chain ended (or was ended) without reporting it
};

std::string_view StateText(State state);

struct HostResult {
  Address address = 0;
  State state = State::kPending;
  std::optional<long> roundTripMs{};
  std::optional<int> ttl{};
  std::string name{};
  std::string mac{};
};

// What one report did to the results.
enum class Filing { kFiled, kDuplicate, kUnknown };

class ResultBook {
 public:
  explicit ResultBook(const std::vector<Address>& addresses);

  // A probe report: "label,Dead" or "label,rtt,ttl,name,mac".
  Filing FileProbeReport(std::string_view text);
  // A name-only answer for the address at `position`.
  Filing FileName(std::size_t position, std::string_view name);
  // Every slot from `first` on, `count` of them, still without a report.
  void MarkUnreported(std::size_t first, std::size_t count);

  [[nodiscard]] const std::vector<HostResult>& Results() const { return results_; }
  [[nodiscard]] std::size_t Done() const { return done_; }
  // Alive in a probe sweep, named in a name-only sweep.
  [[nodiscard]] std::size_t Found() const { return found_; }

 private:
  Filing File(std::size_t position, HostResult result);

  std::vector<HostResult> results_;
  std::size_t done_ = 0;
  std::size_t found_ = 0;
};

}  // namespace hostsweep::controller
