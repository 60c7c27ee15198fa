// The writes the state database takes, one prepared statement each, shared by
// the recorder of sweeps and the import of a watch's JSON state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "controller/history/watch.h"
#include "controller/state/database.h"

namespace hostsweep::controller {

// What the sweeps table keeps of a sweep.
struct SweepSummaryRow {
  std::int64_t time = 0;
  const std::vector<Address>* swept = nullptr;
  bool ipv6 = false;
  std::size_t found = 0;
  std::size_t changes = 0;
};

class StateTables {
 public:
  StateTables(Database& database, VendorOf vendorOf);
  void InsertDevice(const KnownHost& known);
  void UpdateDevice(const KnownHost& known);
  // Its address, name and MAC of now, held since `since` unless held before;
  // any other it held until now ends at `lastHeld`.
  void SeeValues(const KnownHost& known, std::int64_t since, std::int64_t lastHeld);
  // Its DNS-SD services of now, `services`, held since `since` unless held
  // before; any other it held until now ends at `lastHeld`.
  void SeeServices(std::int64_t device, const std::vector<std::string>& services,
                   std::int64_t since, std::int64_t lastHeld);
  // The devices seen again as they were, last seen at `now`.
  void SeeAgain(const std::vector<std::int64_t>& devices, std::int64_t now);
  void OpenSession(std::int64_t device, std::int64_t began);
  void CloseSession(std::int64_t device, std::int64_t ended);
  // The id of the sweep's row, one of its own or its run's.
  std::int64_t AddSweep(const SweepSummaryRow& sweep);
  // Under the event's own id.
  void AddEvent(std::int64_t sweep, const WatchEvent& event);
  // The id the next event takes: ids are never given twice, even once the
  // events holding them are gone from a copy of the file.
  std::int64_t NextEventId();
  // The last sweep's row: what an event told between sweeps names.
  std::int64_t LastSweep();
  // A conflict open since `since`, or no longer.
  void OpenConflict(const LinkConflict& conflict, std::int64_t since);
  void CloseConflict(const LinkConflict& conflict);

 private:
  void BindDevice(Statement& statement, const KnownHost& known);

  VendorOf vendorOf_;
  std::unique_ptr<Statement> insertDevice_;
  std::unique_ptr<Statement> updateDevice_;
  std::unique_ptr<Statement> endValue_;
  std::unique_ptr<Statement> holdValue_;
  std::unique_ptr<Statement> endServices_;
  std::unique_ptr<Statement> holdService_;
  std::unique_ptr<Statement> seeAgain_;
  std::unique_ptr<Statement> openSession_;
  std::unique_ptr<Statement> closeSession_;
  std::unique_ptr<Statement> extendRun_;
  std::unique_ptr<Statement> addSweep_;
  std::unique_ptr<Statement> addEvent_;
  std::unique_ptr<Statement> nextEventId_;
  std::unique_ptr<Statement> lastSweep_;
  std::unique_ptr<Statement> openConflict_;
  std::unique_ptr<Statement> closeConflict_;
};

}  // namespace hostsweep::controller
