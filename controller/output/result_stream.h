// The stream that hands each finished result to every writer.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "controller/base/results.h"
#include "controller/output/result_writer.h"

namespace hostsweep::controller {

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
