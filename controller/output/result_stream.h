// The stream that hands each finished result to every writer.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "controller/base/results.h"
#include "controller/output/result_writer.h"

namespace hostsweep::controller {

// Hands on the rows worth showing when the dead are left out (--alive, the
// table on a terminal): the hosts found, and the rows a comparison marks as
// changed (a host gone). Every other row is skipped, for the formats that
// count every address swept.
class FoundOnlyWriter : public ResultWriter {
 public:
  explicit FoundOnlyWriter(ResultWriter& shown) : shown_(shown) {}
  void Write(const HostView& view) override;
  void Skip(const HostView& view) override { shown_.Skip(view); }
  void Finish(SweepEnd end) override { shown_.Finish(end); }

 private:
  ResultWriter& shown_;
};

// Hands results to the writers (standard output's, the results files') in
// target order as soon as every result before them is in, so that CSV and
// JSON lines appear while the sweep runs. Each result's view is worked out
// once, for every writer.
class ResultStream {
 public:
  ResultStream(std::vector<ResultWriter*> writers, VendorOf vendorOf)
      : writers_(std::move(writers)), vendorOf_(std::move(vendorOf)) {}

  // Whether WriteReady has a result to write: the progress line is taken
  // down only for that.
  [[nodiscard]] bool HasReady(const ResultBook& book) const {
    return next_ < book.Results().size() && book.Ready(next_);
  }
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
  VendorOf vendorOf_;
  std::size_t next_ = 0;
};

}  // namespace hostsweep::controller
