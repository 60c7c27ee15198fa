#include "controller/output/result_stream.h"

namespace hostsweep::controller {

void FoundOnlyWriter::Write(const HostView& view) {
  if (IsFound(view.state) || (view.change && view.change->change != Change::kNone)) {
    shown_.Write(view);
  } else {
    shown_.Skip(view);
  }
}

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
  for (ResultWriter* writer : writers_) {
    writer->Write(view);
  }
}

}  // namespace hostsweep::controller
