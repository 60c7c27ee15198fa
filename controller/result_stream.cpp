#include "controller/result_stream.h"

namespace hostsweep::controller {

void ResultStream::WriteReady(const ResultBook& book) {
  const auto& results = book.Results();
  while (next_ < results.size() && book.Ready(next_)) {
    WriteOne(results[next_++]);
  }
}

void ResultStream::Finish(const ResultBook& book, SweepEnd end) {
  const auto& results = book.Results();
  for (; next_ < results.size(); ++next_) {
    if (results[next_].state != State::kPending) {
      WriteOne(results[next_]);
    }
  }
  writer_.Finish(end);
}

void ResultStream::WriteOne(const HostResult& result) {
  if (!foundOnly_ || IsFound(result.state)) {
    writer_.Write(result);
  } else {
    writer_.Skip(result);
  }
}

}  // namespace hostsweep::controller
