#include "controller/history/change_writer.h"

#include <algorithm>
#include <utility>

namespace hostsweep::controller {

ChangeWriter::ChangeWriter(EarlierSweep earlier, std::vector<ResultWriter*> writers,
                           bool changesOnly, VendorOf vendorOf)
    : earlier_(std::move(earlier)),
      writers_(std::move(writers)),
      changesOnly_(changesOnly),
      vendorOf_(std::move(vendorOf)) {}

void ChangeWriter::Finish(SweepEnd end) {
  std::vector<SeenHost> found;
  std::vector<Address> swept;
  for (const auto& row : rows_) {
    swept.push_back(row.view.address);
    if (IsFound(row.view.state)) {
      found.push_back(SeenHostOf(row.view));
    }
  }
  const SweepComparison comparison = CompareSweeps(earlier_.found, found);
  auto match = comparison.current.begin();
  for (auto& row : rows_) {
    row.view.change = IsFound(row.view.state) ? RowChangeOf(*match++, earlier_.found) : RowChange{};
    HandOn(row.view, row.shown);
  }
  // Gone only where this sweep looked: an address it did not cover says nothing.
  std::sort(swept.begin(), swept.end());
  for (const std::size_t index : comparison.unmatched) {
    const SeenHost& host = earlier_.found[index];
    if (!std::binary_search(swept.begin(), swept.end(), host.address)) {
      continue;
    }
    HostView gone{.address = host.address, .state = State::kDead, .name = host.name};
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
