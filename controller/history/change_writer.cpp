#include "controller/history/change_writer.h"

#include <utility>

#include "controller/history/watch.h"

namespace hostsweep::controller {

ChangeWriter::ChangeWriter(EarlierSweep earlier, std::vector<ResultWriter*> writers,
                           bool changesOnly, bool ipv6, VendorOf vendorOf)
    : earlier_(std::move(earlier)),
      writers_(std::move(writers)),
      changesOnly_(changesOnly),
      ipv6_(ipv6),
      vendorOf_(std::move(vendorOf)) {}

void ChangeWriter::Finish(SweepEnd end) {
  SweepRows seen(ipv6_);
  for (const auto& row : rows_) {
    seen.Skip(row.view);
  }
  const SweepComparison comparison = CompareSweeps(earlier_.found, seen.Found());
  auto match = comparison.current.begin();
  for (auto& row : rows_) {
    row.view.change = IsFound(row.view.state) ? RowChangeOf(*match++, earlier_.found) : RowChange{};
    HandOn(row.view, row.shown);
  }
  // Gone only where this sweep looked: an address it did not cover says nothing.
  const SweepScope swept = seen.Swept();
  for (const std::size_t index : comparison.unmatched) {
    const SeenHost& host = earlier_.found[index];
    if (!swept.Covers(host)) {
      continue;
    }
    HostView gone{.address = host.address, .state = State::kDead, .name = host.name};
    if (!host.ipv6.empty()) {
      gone.ipv6 = {host.ipv6};
      gone.ipv6Only = true;
    }
    gone.mac = host.mac;
    gone.macSource = host.macSource;
    gone.vendor = host.mac ? vendorOf_(*host.mac) : std::string{};
    gone.change = RowChange{.change = Change::kGone, .previous = {}};
    HandOn(gone, true);
  }
  for (ResultWriter* writer : writers_) {
    writer->Finish(end);
  }
}

void ChangeWriter::HandOn(const HostView& view, bool shown) {
  const bool changed = view.change->change != Change::kNone;
  anyChange_ = anyChange_ || changed;
  for (ResultWriter* writer : writers_) {
    if (shown && (changed || !changesOnly_)) {
      writer->Write(view);
    } else {
      writer->Skip(view);
    }
  }
}

}  // namespace hostsweep::controller
