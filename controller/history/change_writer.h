// --compare: the sweep's rows, each with what changed since an earlier sweep,
// and the earlier sweep's hosts that are gone.
#pragma once

#include <unordered_map>
#include <vector>

#include "controller/history/earlier_results.h"
#include "controller/history/missing_devices.h"
#include "controller/output/result_stream.h"

namespace hostsweep::controller {

// Holds the rows until the sweep ends (a host's match may be found at any
// later address), then hands them on to `writers` with their changes. A gone
// host takes the place of the row of its address where that found nothing,
// so that it is listed once; the others come last. With `changesOnly`, unchanged rows are skipped.
// `ipv6`: the sweep asks the swept links' IPv6 nodes too (--ipv6).
// With an `inventory` (--known), a device it ignores shows no change, and a
// device it expects always is missing where the sweep looked for it and found
// nothing: in its address's place, as a gone host is.
class ChangeWriter : public ResultWriter {
 public:
  ChangeWriter(EarlierSweep earlier, std::vector<ResultWriter*> writers, bool changesOnly,
               bool ipv6, VendorOf vendorOf, const Inventory* inventory = nullptr);
  void Write(const HostView& view) override { rows_.push_back({view, true}); }
  void Skip(const HostView& view) override { rows_.push_back({view, false}); }
  void Finish(SweepEnd end) override;
  [[nodiscard]] bool AnyChange() const { return anyChange_; }

 private:
  struct Row {
    HostView view;
    bool shown;
  };
  void HandOn(const HostView& view, bool shown);
  [[nodiscard]] HostView GoneView(const SeenHost& host) const;
  [[nodiscard]] HostView MissingView(const MissingDevice& missing) const;
  // A gone or missing row, in the place of its address's row when that
  // found nothing, else in `after`.
  void Place(HostView view, std::unordered_map<Address, std::size_t>& emptyRows,
             std::vector<HostView>& after);

  EarlierSweep earlier_;
  std::vector<ResultWriter*> writers_;
  bool changesOnly_;
  bool ipv6_;
  VendorOf vendorOf_;
  const Inventory* inventory_;
  std::vector<Row> rows_;
  bool anyChange_ = false;
};

}  // namespace hostsweep::controller
