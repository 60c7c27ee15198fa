// Hands results to the writer in target order as soon as every result before
// them is in, so that CSV and JSON lines appear while the sweep runs.
#pragma once

#include <cstddef>
#include <utility>

#include "controller/output.h"
#include "controller/results.h"

namespace hostsweep::controller {

class ResultStream {
 public:
  ResultStream(ResultWriter& writer, bool foundOnly, VendorOf vendorOf)
      : writer_(writer), foundOnly_(foundOnly), vendorOf_(std::move(vendorOf)) {}

  // Writes the finished results that follow those already written.
  void WriteReady(const ResultBook& book);
  // Writes every finished result still unwritten, in order, leaving out the
  // unfinished ones (an interrupted sweep has some); then ends the output.
  void Finish(const ResultBook& book);

 private:
  void WriteOne(const HostResult& result);

  ResultWriter& writer_;
  bool foundOnly_;
  VendorOf vendorOf_;
  std::size_t next_ = 0;
};

}  // namespace hostsweep::controller
