#include "controller/result_stream.h"

namespace hostsweep::controller {

void ResultStream::WriteReady(const ResultBook& book) {
  const auto& results = book.Results();
  while (next_ < results.size() && book.Ready(next_)) {
    WriteOne(results[next_++]);
  }
}

void ResultStream::Finish(const ResultBook& book) {
  const auto& results = book.Results();
  for (; next_ < results.size(); ++next_) {
    if (results[next_].probe.state != State::kPending) {
      WriteOne(results[next_]);
    }
  }
  writer_.Finish();
}

void ResultStream::WriteOne(const HostResult& result) {
  const HostView view = ViewOf(result, vendorOf_);
  if (!foundOnly_ || IsFound(view.state)) {
    writer_.Write(view);
  }
}

}  // namespace hostsweep::controller
