// The result formats (an aligned table, CSV (RFC 4180) and JSON lines) and
// the stream that hands each finished result to every writer.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "controller/results.h"

namespace hostsweep::controller {

enum class Format { kTable, kCsv, kJson };

// The columns a sweep adds when asked: each device's IPv6 addresses
// (--ipv6) and the change since an earlier sweep (--compare).
struct ExtraColumns {
  bool ipv6 = false;
  bool change = false;
};

std::string CsvField(std::string_view text);
// With `ipv6` (--ipv6), CSV rows have an ipv6 field (the addresses joined by
// spaces) and JSON objects an "ipv6" list. A compared row (one with a change)
// ends with its change and what it was before: two more CSV fields, or the
// "change" and "previous" keys.
std::string CsvHeader(ExtraColumns extra = {});
std::string CsvRow(const HostView& view, bool ipv6 = false);
// One JSON object with every key present, in a fixed order; absent values are null.
std::string JsonLine(const HostView& view, bool ipv6 = false);
// Aligned columns. For a terminal `terminalWidth` columns wide, the name and
// maker are cut to fit (ending in an ellipsis) and a round trip under 1 ms
// reads "<1"; without it (piped output) every value is whole. An IPV6 column
// follows when any host has an IPv6 address, and a CHANGE column comes last
// when `compared`.
std::string Table(const std::vector<HostView>& views,
                  std::optional<std::size_t> terminalWidth = std::nullopt, bool compared = false);

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

// Hands results to the writers (standard output's, the results files') in
// target order as soon as every result before them is in, so that CSV and
// JSON lines appear while the sweep runs. Each result's view is worked out
// once, for every writer.
class ResultStream {
 public:
  ResultStream(std::vector<ResultWriter*> writers, bool foundOnly, VendorOf vendorOf)
      : writers_(std::move(writers)), foundOnly_(foundOnly), vendorOf_(std::move(vendorOf)) {}

  // Writes the finished results that follow those already written.
  void WriteReady(const ResultBook& book);
  // Writes every finished result still unwritten, in order, leaving out the
  // unfinished ones (an interrupted sweep has some), then `more` (devices
  // that hold no swept address: heard over IPv6 alone); then ends the output.
  void Finish(const ResultBook& book, SweepEnd end, const std::vector<HostView>& more = {});

 private:
  void WriteOne(const HostResult& result);
  void WriteView(const HostView& view);

  std::vector<ResultWriter*> writers_;
  bool foundOnly_;
  VendorOf vendorOf_;
  std::size_t next_ = 0;
};

}  // namespace hostsweep::controller
