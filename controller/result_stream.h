// Hands results to the writer in target order as soon as every result before
// them is in, so that CSV and JSON lines appear while the sweep runs.
#pragma once

#include <cstddef>

#include "controller/output.h"
#include "controller/results.h"

namespace hostsweep::controller {

class ResultStream {
 public:
  ResultStream(ResultWriter& writer, bool foundOnly) : writer_(writer), foundOnly_(foundOnly) {}

  // Writes the finished results that follow those already written.
  void WriteReady(const ResultBook& book);
  // Writes every finished result still unwritten, in order, leaving out the
  // unfinished ones (an interrupted sweep has some); then ends the output.
  void Finish(const ResultBook& book, SweepEnd end);

 private:
  void WriteOne(const HostResult& result);

  ResultWriter& writer_;
  bool foundOnly_;
  std::size_t next_ = 0;
};

}  // namespace hostsweep::controller
