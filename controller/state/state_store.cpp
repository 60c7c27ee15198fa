#include "controller/state/state_store.h"

#include <iostream>

#include "controller/state/database.h"
#include "controller/state/history_output.h"
#include "controller/state/history_query.h"
#include "controller/state/json_import.h"
#include "controller/state/recorder.h"

namespace hostsweep::controller {
namespace {

class DatabaseStore : public StateStore {
 public:
  DatabaseStore(const std::filesystem::path& path, int goneAfter, const VendorOf& vendorOf,
                const std::vector<std::string>& sinks)
      : database_(path, StateAccess::kWrite), recorder_(database_, goneAfter, vendorOf, sinks) {}
  [[nodiscard]] EarlierSweep Present() const override { return recorder_.Present(); }
  [[nodiscard]] const std::vector<KnownHost>& Known() const override {
    return recorder_.Book().known;
  }
  RecordedSweep Record(const std::vector<SeenHost>& found, const std::vector<Address>& swept,
                       bool ipv6, std::int64_t now, const EventTelling& telling) override {
    return recorder_.Record(found, swept, ipv6, now, telling);
  }
  void SeenAgain(std::size_t index, std::int64_t now) override { recorder_.SeenAgain(index, now); }
  EventQueue& Queues() override { return recorder_.Queues(); }

 private:
  Database database_;
  Recorder recorder_;
};

}  // namespace

std::unique_ptr<StateStore> OpenStateStore(const std::filesystem::path& path, int goneAfter,
                                           const VendorOf& vendorOf,
                                           const std::vector<std::string>& sinks) {
  CheckStateFile(path);
  std::error_code error;
  const bool existed = std::filesystem::exists(path, error);
  if (existed && ImportJsonState(path, vendorOf)) {
    std::cerr << "hostsweep: --state: " << path.string()
              << ": the watch's JSON state is now a database; the JSON file is kept as "
              << path.string() << ".json-old\n";
  }
  auto store = std::make_unique<DatabaseStore>(path, goneAfter, vendorOf, sinks);
  // Said once it is so: a file that cannot be created gets its failure alone.
  if (!existed) {
    std::cerr << "hostsweep: --state: " << path.string()
              << " does not exist yet: created; its first sweep is the baseline\n";
  }
  return store;
}

std::size_t WriteHistory(const std::filesystem::path& path, const std::string& who, Format format,
                         const Inventory* inventory, std::ostream& out, TimeZone tableZone) {
  Database database(path, StateAccess::kRead);
  out << HistoryHeader(format);
  std::size_t written = 0;
  ForEachDevice(database, who, [&](const DeviceHistory& device) {
    out << HistoryEntry(device, format, inventory, tableZone);
    ++written;
  });
  out.flush();
  return written;
}

}  // namespace hostsweep::controller
