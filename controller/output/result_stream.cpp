#include "controller/output/result_stream.h"

namespace hostsweep::controller {

void ResultStream::WriteReady(const ResultBook& book) {
  const auto& results = book.Results();
  while (next_ < results.size() && book.Ready(next_)) {
    WriteOne(results[next_++]);
  }
}

void ResultStream::Finish(const ResultBook& book, SweepEnd end, const std::vector<HostView>& more) {
  const auto& results = book.Results();
  for (; next_ < results.size(); ++next_) {
    if (results[next_].probe.state != State::kPending) {
      WriteOne(results[next_]);
    }
  }
  for (const HostView& view : more) {
    WriteView(view);
  }
  for (ResultWriter* writer : writers_) {
    writer->Finish(end);
  }
}

void ResultStream::WriteOne(const HostResult& result) { WriteView(ViewOf(result, vendorOf_)); }

void ResultStream::WriteView(const HostView& view) {
  const bool shown = !foundOnly_ || IsFound(view.state);
  for (ResultWriter* writer : writers_) {
    if (shown) {
      writer->Write(view);
    } else {
      writer->Skip(view);
    }
  }
}

}  // namespace hostsweep::controller
