#include "controller/history/change_writer.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "controller/history/watch.h"

namespace hostsweep::controller {

ChangeWriter::ChangeWriter(EarlierSweep earlier, std::vector<ResultWriter*> writers,
                           bool changesOnly, bool ipv6, VendorOf vendorOf,
                           const Inventory* inventory)
    : earlier_(std::move(earlier)),
      writers_(std::move(writers)),
      changesOnly_(changesOnly),
      ipv6_(ipv6),
      vendorOf_(std::move(vendorOf)),
      inventory_(inventory) {}

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
    const bool found = IsFound(view.state);
    view.change = found ? RowChangeOf(*match++, earlier_.found) : RowChange{};
    if (found && Ignored(inventory_, SeenHostOf(view))) {
      view.change = RowChange{};
    }
    if (!found && !view.ipv6Only) {
      emptyRows.emplace(view.address, r);
    }
  }
  std::vector<HostView> after;
  // Gone only where this sweep looked (an address it did not cover says
  // nothing), and with --gone-after only once missed as often as it says.
  const SweepScope swept = seen.Swept();
  std::vector<const KnownDevice*> missing;
  if (inventory_ != nullptr) {
    for (const MissingDevice& device :
         MissingDevices(*inventory_, seen.Found(), swept, earlier_.found)) {
      missing.push_back(device.device);
      Place(MissingView(device), emptyRows, after);
    }
  }
  for (const std::size_t index : comparison.unmatched) {
    const SeenHost& host = earlier_.found[index];
    // A device the inventory ignores is never gone; one it misses is told once.
    const KnownDevice* device = DeviceOf(inventory_, host);
    const bool notGoneYet =
        index < earlier_.missesToGone.size() && earlier_.missesToGone[index] > 1;
    if (!swept.Covers(host) || notGoneYet || Ignored(inventory_, host) ||
        std::find(missing.begin(), missing.end(), device) != missing.end()) {
      continue;
    }
    Place(GoneView(host), emptyRows, after);
  }
  for (const auto& row : rows_) {
    HandOn(row.view, row.shown);
  }
  for (const auto& view : after) {
    HandOn(view, true);
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
  if (inventory_ != nullptr) {
    gone.known = inventory_->FactsOf(gone);
  }
  return gone;
}

HostView ChangeWriter::MissingView(const MissingDevice& missing) const {
  HostView view = GoneView(missing.place);
  view.change->change = Change::kMissing;
  view.known = missing.device->facts;
  return view;
}

void ChangeWriter::Place(HostView view, std::unordered_map<Address, std::size_t>& emptyRows,
                         std::vector<HostView>& after) {
  const auto empty = view.ipv6Only ? emptyRows.end() : emptyRows.find(view.address);
  if (empty != emptyRows.end()) {
    rows_[empty->second] = {std::move(view), true};
    emptyRows.erase(empty);
  } else {
    after.push_back(std::move(view));
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
