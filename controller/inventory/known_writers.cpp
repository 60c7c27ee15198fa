#include "controller/inventory/known_writers.h"

namespace hostsweep::controller {

HostView KnownFactsWriter::WithFacts(HostView view) const {
  view.known = inventory_.FactsOf(view);
  return view;
}

void KnownFactsWriter::Write(const HostView& view) {
  const HostView shown = WithFacts(view);
  for (ResultWriter* writer : writers_) {
    writer->Write(shown);
  }
}

void KnownFactsWriter::Skip(const HostView& view) {
  const HostView skipped = WithFacts(view);
  for (ResultWriter* writer : writers_) {
    writer->Skip(skipped);
  }
}

void KnownFactsWriter::Finish(SweepEnd end) {
  for (ResultWriter* writer : writers_) {
    writer->Finish(end);
  }
}

void UnknownOnlyWriter::Write(const HostView& view) {
  const bool marked = view.change && view.change->change != Change::kNone;
  if (view.known && !view.known->known && (IsFound(view.state) || marked)) {
    shown_.Write(view);
  } else {
    shown_.Skip(view);
  }
}

}  // namespace hostsweep::controller
