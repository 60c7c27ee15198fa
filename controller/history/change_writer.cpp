#include "controller/history/change_writer.h"

#include <unordered_map>
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
  // A gone host is listed once: in the place of the row of its address when
  // that found nothing, else after the rows.
  std::unordered_map<Address, std::size_t> emptyRows;
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    HostView& view = rows_[r].view;
    view.change = IsFound(view.state) ? RowChangeOf(*match++, earlier_.found) : RowChange{};
    if (!IsFound(view.state) && !view.ipv6Only) {
      emptyRows.emplace(view.address, r);
    }
  }
  std::vector<HostView> goneAfter;
  // Gone only where this sweep looked: an address it did not cover says nothing.
  const SweepScope swept = seen.Swept();
  for (const std::size_t index : comparison.unmatched) {
    const SeenHost& host = earlier_.found[index];
    if (!swept.Covers(host)) {
      continue;
    }
    HostView gone = GoneView(host);
    const auto empty = host.ipv6.empty() ? emptyRows.find(host.address) : emptyRows.end();
    if (empty != emptyRows.end()) {
      rows_[empty->second] = {std::move(gone), true};
      emptyRows.erase(empty);
    } else {
      goneAfter.push_back(std::move(gone));
    }
  }
  for (const auto& row : rows_) {
    HandOn(row.view, row.shown);
  }
  for (const auto& gone : goneAfter) {
    HandOn(gone, true);
  }
  for (ResultWriter* writer : writers_) {
    writer->Finish(end);
  }
}

HostView ChangeWriter::GoneView(const SeenHost& host) const {
  HostView gone{.address = host.address, .state = State::kDead, .name = host.name};
  if (!host.ipv6.empty()) {
    gone.ipv6 = {host.ipv6};
    gone.ipv6Only = true;
  }
  gone.device.type = host.type;
  gone.device.model = host.model;
  gone.mac = host.mac;
  gone.macSource = host.macSource;
  gone.vendor = host.mac ? vendorOf_(*host.mac) : std::string{};
  gone.change = RowChange{.change = Change::kGone, .previous = {}};
  return gone;
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
