// The inventory's place among the writers: its facts added to each row
// before anything else sees it, and --unknown-only's choice of rows.
#pragma once

#include <utility>
#include <vector>

#include "controller/inventory/inventory.h"
#include "controller/output/result_writer.h"

namespace hostsweep::controller {

// Gives each row the inventory's facts of its device, then hands it on to
// every writer.
class KnownFactsWriter : public ResultWriter {
 public:
  KnownFactsWriter(const Inventory& inventory, std::vector<ResultWriter*> writers)
      : inventory_(inventory), writers_(std::move(writers)) {}
  void Write(const HostView& view) override;
  void Skip(const HostView& view) override;
  void Finish(SweepEnd end) override;

 private:
  [[nodiscard]] HostView WithFacts(HostView view) const;

  const Inventory& inventory_;
  std::vector<ResultWriter*> writers_;
};

// Shows the rows of devices the inventory does not know: the hosts found and
// the rows a comparison marks (a device gone); skips the others, the dead
// addresses too, which are no device.
class UnknownOnlyWriter : public ResultWriter {
 public:
  explicit UnknownOnlyWriter(ResultWriter& shown) : shown_(shown) {}
  void Write(const HostView& view) override;
  void Skip(const HostView& view) override { shown_.Skip(view); }
  void Finish(SweepEnd end) override { shown_.Finish(end); }

 private:
  ResultWriter& shown_;
};

}  // namespace hostsweep::controller
