// What every result format is to the sweep: a writer of finished rows.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string_view>

#include "controller/base/enum_text.h"
#include "controller/base/results.h"
#include "controller/output/sweep_run.h"

namespace hostsweep::controller {

// The format chosen for standard output; XML and HTML are chosen by a file
// option of their own (--xml, --html), which may name standard output.
enum class Format { kTable, kCsv, kJson };

inline constexpr std::array<EnumText<Format>, 3> kFormatNames{
    {{Format::kTable, "table"}, {Format::kCsv, "csv"}, {Format::kJson, "json"}}};

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

// What a writer is made with: the width of the terminal a table is for, the
// columns the sweep adds, and the run (the formats that record it).
struct WriterSettings {
  std::optional<std::size_t> terminalWidth{};
  ExtraColumns extra{};
  SweepRun run{};
};

// A result format by its name, and how its writer is made: standard output's
// and a file's alike.
struct ResultFormat {
  std::string_view name;
  std::unique_ptr<ResultWriter> (*make)(std::ostream& out, const WriterSettings& settings);
};

std::span<const ResultFormat> ResultFormats();
// Throws std::out_of_range for a name no format has.
const ResultFormat& FormatNamed(std::string_view name);

std::unique_ptr<ResultWriter> MakeWriter(Format format, std::ostream& out,
                                         std::optional<std::size_t> terminalWidth = std::nullopt,
                                         ExtraColumns extra = {});

}  // namespace hostsweep::controller
