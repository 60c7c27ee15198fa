// What every result format is to the sweep: a writer of finished rows.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <ostream>

#include "controller/base/results.h"

namespace hostsweep::controller {

enum class Format { kTable, kCsv, kJson };

// The columns a sweep adds when asked: each device's IPv6 addresses
// (--ipv6), the change since an earlier sweep (--compare), and what the
// user's inventory says of the device (--known).
struct ExtraColumns {
  bool ipv6 = false;
  bool change = false;
  bool known = false;
};

// How a sweep ended, for the formats that record it.
enum class SweepEnd { kComplete, kInterrupted };

// Writes results in the order given; CSV and JSON write each result at once,
// the table waits for all of them to size its columns.
class ResultWriter {
 public:
  virtual ~ResultWriter() = default;
  virtual void Write(const HostView& view) = 0;
  // A finished result that is not shown (--alive), for formats that count
  // every address swept.
  virtual void Skip(const HostView& /*view*/) {}
  virtual void Finish(SweepEnd end) = 0;
};

std::unique_ptr<ResultWriter> MakeWriter(Format format, std::ostream& out,
                                         std::optional<std::size_t> terminalWidth = std::nullopt,
                                         ExtraColumns extra = {});

}  // namespace hostsweep::controller
