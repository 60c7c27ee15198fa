#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "controller/base/errors.h"
#include "controller/history/conflict_events.h"
#include "controller/state/history_output.h"
#include "controller/state/history_query.h"
#include "controller/state/recorder.h"
#include "controller/state/schema.h"
#include "controller/state/state_store.h"
#include "tests/case_name.h"
#include "tests/controller/base/local_zone.h"
#include "tests/temporary_folder.h"

namespace hostsweep::controller {
namespace {

namespace fs = std::filesystem;

constexpr MacAddress kLaptop{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x01};
constexpr MacAddress kPrinter{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x02};
constexpr MacAddress kPhone{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};  // randomised
const VendorOf kNoVendor = [](const MacAddress&) { return std::string{}; };

SeenHost Host(Address last, std::string name, std::optional<MacAddress> mac = std::nullopt,
              std::string model = {}) {
  return {.address = 0x0A000000U + last,
          .name = std::move(name),
          .mac = mac,
          .macSource = mac ? MacSource::kArp : MacSource::kNone,
          .type = model.empty() ? "" : "printer",
          .model = std::move(model)};
}

// A file of its own in a folder of its own, gone with the test.
class StateFile : public ::testing::Test {
 protected:
  [[nodiscard]] fs::path File() const { return folder_ / "state.db"; }

  // Each round recorded by a recorder of its own, as after a restart.
  std::string RecordRound(const std::vector<SeenHost>& found, std::int64_t now, int goneAfter,
                          bool announceExisting = false) {
    Database database(File(), StateAccess::kWrite);
    Recorder recorder(database, goneAfter, kNoVendor);
    std::vector<Address> swept;
    for (Address last = 1; last < 10; ++last) {
      swept.push_back(0x0A000000U + last);
    }
    const RecordedSweep recorded =
        recorder.Record(found, swept, false, now, {.announceExisting = announceExisting});
    std::string told =
        recorded.baseline ? "baseline " + std::to_string(*recorded.baseline) + "; " : "";
    for (const WatchEvent& event : recorded.told) {
      told += std::string(ChangeText(event.change)) + " " + AddressText(event.host) + " #" +
              std::to_string(event.record) + "@" + std::to_string(event.firstSeen) +
              (event.previous.empty() ? "" : " was " + event.previous) + "; ";
    }
    return told;
  }

  std::vector<DeviceHistory> History(std::string_view who) {
    Database database(File(), StateAccess::kRead);
    std::vector<DeviceHistory> devices;
    ForEachDevice(database, who, [&](const DeviceHistory& device) { devices.push_back(device); });
    return devices;
  }

 private:
  testing::TemporaryFolder folder_;
};

struct Rounds {
  const char* what;
  int goneAfter;
  bool announceExisting;
  std::vector<std::vector<SeenHost>> found;  // one sweep each, at times 0, 1, ...
  std::vector<std::string> told;
  std::size_t sessions;  // of the first device, at the end
  std::string sweeps;    // the sweeps table's rows: "time-last×count "
  std::string values;    // the first device's: "value first-last "
};

void PrintTo(const Rounds& rounds, std::ostream* os) { *os << rounds.what; }

class RecordedRounds : public StateFile, public ::testing::WithParamInterface<Rounds> {};

// Each sweep's changes as the watch tells them, the same after a restart, and
// kept: each device once, with its sessions.
TEST_P(RecordedRounds, TellEachChangeOnceAcrossRestarts) {
  const Rounds& rounds = GetParam();
  std::vector<std::string> told;
  for (std::size_t round = 0; round < rounds.found.size(); ++round) {
    told.push_back(RecordRound(rounds.found[round], static_cast<std::int64_t>(round),
                               rounds.goneAfter, rounds.announceExisting));
  }
  EXPECT_EQ(told, rounds.told);
  const auto devices = History("");
  ASSERT_FALSE(devices.empty());
  EXPECT_EQ(devices.front().sessions.size(), rounds.sessions);
  std::string values;
  for (const auto* kind :
       {&devices.front().addresses, &devices.front().names, &devices.front().macs}) {
    for (const PastValue& value : *kind) {
      values += value.value + " " + std::to_string(value.firstSeen) + "-" +
                std::to_string(value.lastSeen) + " ";
    }
  }
  EXPECT_EQ(values, rounds.values);
  Database database(File(), StateAccess::kRead);
  const auto rows = database.Prepare("SELECT time, last, count FROM sweeps ORDER BY id");
  std::string sweeps;
  while (rows->Step()) {
    sweeps += std::to_string(rows->Integer(0)) + "-" + std::to_string(rows->Integer(1)) + "x" +
              std::to_string(rows->Integer(2)) + " ";
  }
  EXPECT_EQ(sweeps, rounds.sweeps);
}

INSTANTIATE_TEST_SUITE_P(
    Sweeps, RecordedRounds,
    ::testing::Values(Rounds{"the baseline, gone after two missed sweeps, then back",
                             2,
                             false,
                             {{Host(5, "nas", kLaptop)}, {}, {}, {}, {Host(5, "nas", kLaptop)}},
                             {"baseline 1; ", "", "gone 10.0.0.5 #1@0; ", "",
                              "back 10.0.0.5 #1@0; "},
                             2,
                             "0-0x1 1-1x1 2-2x1 3-3x1 4-4x1 ",
                             "10.0.0.5 0-4 nas 0-4 00:1a:2b:3c:4d:01 0-4 "},
                      Rounds{"missed once of two: never gone",
                             2,
                             false,
                             {{Host(5, "nas")}, {}, {Host(5, "nas")}, {}, {Host(5, "nas")}},
                             {"baseline 1; ", "", "", "", ""},
                             1,
                             "0-0x1 1-1x1 2-2x1 3-3x1 4-4x1 ",
                             "10.0.0.5 0-4 nas 0-4 "},
                      Rounds{"retyped across a restart",
                             1,
                             false,
                             {{Host(5, "lp", kPrinter, "HL-1")}, {Host(5, "lp", kPrinter, "HL-2")}},
                             {"baseline 1; ", "retyped 10.0.0.5 #1@0 was printer/HL-1; "},
                             1,
                             "0-0x1 1-1x1 ",
                             "10.0.0.5 0-1 lp 0-1 00:1a:2b:3c:4d:02 0-1 "},
                      Rounds{"alike sweeps share a row",
                             1,
                             false,
                             {{Host(5, "nas")},
                              {Host(5, "nas")},
                              {Host(5, "nas")},
                              {Host(5, "nas"), Host(6, "tv")},
                              {Host(5, "nas"), Host(6, "tv")}},
                             {"baseline 1; ", "", "", "new 10.0.0.6 #2@3; ", ""},
                             1,
                             "0-0x1 1-2x2 3-3x1 4-4x1 ",
                             "10.0.0.5 0-4 nas 0-4 "},
                      Rounds{"moved, renamed, replaced",
                             1,
                             false,
                             {{Host(5, "nas", kLaptop)},
                              {Host(6, "nas", kLaptop)},
                              {Host(6, "store", kLaptop)},
                              {Host(6, "store", kPrinter)}},
                             {"baseline 1; ", "moved 10.0.0.6 #1@0 was 10.0.0.5; ",
                              "renamed 10.0.0.6 #1@0 was nas; ",
                              "mac-changed 10.0.0.6 #1@0 was 00:1a:2b:3c:4d:01; "},
                             1,
                             "0-0x1 1-1x1 2-2x1 3-3x1 ",
                             "10.0.0.5 0-0 10.0.0.6 1-3 nas 0-1 store 2-3 00:1a:2b:3c:4d:01 0-2 "
                             "00:1a:2b:3c:4d:02 3-3 "},
                      Rounds{"a randomised MAC identifies nothing",
                             1,
                             false,
                             {{Host(7, "phone", kPhone)}, {Host(8, "phone", kPhone)}},
                             {"baseline 1; ", "moved 10.0.0.8 #1@0 was 10.0.0.7; "},
                             1,
                             "0-0x1 1-1x1 ",
                             "10.0.0.7 0-0 10.0.0.8 1-1 phone 0-1 02:11:22:33:44:55 0-1 "},
                      Rounds{"back where it was, or moved with its own MAC",
                             1,
                             false,
                             {{Host(5, "nas", kLaptop), Host(7, "phone", kPhone)},
                              {},
                              {Host(6, "nas", kLaptop), Host(8, "phone", kPhone)}},
                             {"baseline 2; ", "gone 10.0.0.5 #1@0; gone 10.0.0.7 #2@0; ",
                              "moved 10.0.0.6 #1@0 was 10.0.0.5; back 10.0.0.8 #2@0; "},
                             2,
                             "0-0x1 1-1x1 2-2x1 ",
                             "10.0.0.5 0-0 10.0.0.6 2-2 nas 0-2 00:1a:2b:3c:4d:01 0-2 "},
                      Rounds{"existing hosts announced",
                             1,
                             true,
                             {{Host(5, "nas", kLaptop), Host(6, "tv")}, {Host(6, "tv")}},
                             {"new 10.0.0.5 #1@0; new 10.0.0.6 #2@0; ", "gone 10.0.0.5 #1@0; "},
                             1,
                             "0-0x1 1-1x1 ",
                             "10.0.0.5 0-0 nas 0-0 00:1a:2b:3c:4d:01 0-0 "}),
    testing::kNumberedName);

struct ServiceRounds {
  const char* what;
  std::vector<std::optional<std::vector<std::string>>> announced;  // the printer's: sweeps 0, 1...
  std::string services;  // its rows at the end, "type first-last" (now: current)
  std::int64_t writes;   // rows written
};

void PrintTo(const ServiceRounds& rounds, std::ostream* os) { *os << rounds.what; }

class RecordedServices : public StateFile, public ::testing::WithParamInterface<ServiceRounds> {};

// A service has a row from when it is first announced until a sweep that
// asked does not hear it; a sweep that asked nothing, or heard the same,
// writes none, after a restart too.
TEST_P(RecordedServices, KeepEachServiceFromFirstToLastAnnounced) {
  const auto& announced = GetParam().announced;
  const auto sweep = [&announced](Recorder& recorder, std::size_t round, std::int64_t time) {
    SeenHost printer = Host(5, "lp", kPrinter);
    printer.services = announced[round];
    recorder.Record({printer}, {printer.address}, false, time);
  };
  Database database(File(), StateAccess::kWrite);
  database.Execute(
      "CREATE TABLE writes (n); CREATE TRIGGER i AFTER INSERT ON device_services BEGIN "
      "INSERT INTO writes VALUES (1); END; CREATE TRIGGER u AFTER UPDATE ON device_services "
      "BEGIN INSERT INTO writes VALUES (1); END");
  {
    Recorder recorder(database, 1, kNoVendor);
    for (std::size_t round = 0; round < announced.size(); ++round) {
      sweep(recorder, round, static_cast<std::int64_t>(round));
    }
  }
  Recorder restarted(database, 1, kNoVendor);
  sweep(restarted, announced.size() - 1, static_cast<std::int64_t>(announced.size()));
  const auto rows = database.Prepare(
      "SELECT (SELECT group_concat(type || ' ' || first_seen || '-' || coalesce(last_seen, 'now'), "
      "', ') FROM device_services), (SELECT count(*) FROM writes)");
  rows->Step();
  EXPECT_EQ(rows->Text(0), GetParam().services);
  EXPECT_EQ(rows->Integer(1), GetParam().writes);
}

const std::vector<std::string> kIpp{"_ipp._tcp"};

INSTANTIATE_TEST_SUITE_P(
    Sweeps, RecordedServices,
    ::testing::Values(
        ServiceRounds{"not asked or the same", {kIpp, std::nullopt, kIpp}, "_ipp._tcp 0-now", 1},
        ServiceRounds{"one added, then each ended",
                      {kIpp, std::vector<std::string>{"_ipp._tcp", "_scan._tcp"}, kIpp,
                       std::vector<std::string>{}},
                      "_ipp._tcp 0-2, _scan._tcp 1-1",
                      8}),
    testing::kNumberedName);

// A present host heard between sweeps counts as found then: its misses start
// again, and the time it was heard is written with the next sweep.
TEST_F(StateFile, AHostHeardBetweenSweepsMissesFromThen) {
  const std::vector<Address> swept{Host(5, "").address};
  {
    Database database(File(), StateAccess::kWrite);
    Recorder recorder(database, 2, kNoVendor);
    recorder.Record({Host(5, "nas", kLaptop)}, swept, false, 0);
    recorder.Record({}, swept, false, 1);
    recorder.SeenBetweenSweeps(0, 2);
    EXPECT_TRUE(recorder.Record({}, swept, false, 3).told.empty());
  }
  Database database(File(), StateAccess::kWrite);
  const Recorder reopened(database, 2, kNoVendor);
  ASSERT_EQ(reopened.Book().known.size(), 1U);
  EXPECT_EQ(reopened.Book().known[0].lastSeen, 2);
  EXPECT_EQ(reopened.Book().known[0].missed, 1);
}

// A watch's JSON state is carried over whole, the JSON file kept beside it.
TEST_F(StateFile, CarriesAJsonStateOverWhole) {
  const std::vector<KnownHost> hosts{
      {.host = Host(5, "nas", kLaptop), .present = true, .firstSeen = 10, .lastSeen = 20},
      {.host = {.address = 0x0A000006U,
                .name = "pc",
                .mac = kPrinter,
                .macSource = MacSource::kNetbios},
       .present = false,
       .firstSeen = 11,
       .lastSeen = 12},
      {.host = {.mac = kPhone, .macSource = MacSource::kNeighbour, .ipv6 = "2001:db8::7"},
       .present = true,
       .firstSeen = 13,
       .lastSeen = 20}};
  const std::string json = StateDocument(hosts);
  std::ofstream(File()) << json;
  { OpenStateStore(File(), 1, kNoVendor); }
  Database database(File(), StateAccess::kWrite);
  std::vector<KnownHost> read = Recorder(database, 1, kNoVendor).Book().known;
  for (KnownHost& known : read) {
    known.record = 0;
  }
  std::sort(read.begin(), read.end(),
            [](const KnownHost& a, const KnownHost& b) { return a.firstSeen < b.firstSeen; });
  EXPECT_EQ(read, hosts);
  std::ifstream kept(fs::path(File()) += ".json-old");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), json);
}

struct Refusal {
  const char* what;
  std::function<void(const fs::path&)> make;
  const char* said;
  bool system = false;  // the system's refusal (exit 4), else the file's (exit 5)
};

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.what; }

class RefusedFile : public StateFile, public ::testing::WithParamInterface<Refusal> {};

// Exit status 5 (4 where the system refuses), a message naming the fault,
// and nothing started.
TEST_P(RefusedFile, SaysWhyBeforeAnySweep) {
  const fs::path path = GetParam().make ? File() : File() / "missing-folder" / "state.db";
  if (GetParam().make) {
    GetParam().make(path);
  }
  std::ostringstream said;
  std::streambuf* const standardError = std::cerr.rdbuf(said.rdbuf());
  try {
    OpenStateStore(path, 1, kNoVendor);
    ADD_FAILURE() << "opened";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(dynamic_cast<const SystemError*>(&error) != nullptr, GetParam().system)
        << error.what();
    EXPECT_NE(std::string(error.what()).find(GetParam().said), std::string::npos) << error.what();
  }
  std::cerr.rdbuf(standardError);
  EXPECT_EQ(said.str(), "") << "only the failure is said";
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedFile,
    ::testing::Values(
        Refusal{"not SQLite", [](const fs::path& path) { std::ofstream(path) << "GIF89a...."; },
                "not a database"},
        Refusal{"another program's database",
                [](const fs::path& path) {
                  Database(path, StateAccess::kWrite).Execute("PRAGMA application_id = 7");
                },
                "not a hostsweep state database"},
        Refusal{"a newer format",
                [](const fs::path& path) {
                  Database(path, StateAccess::kWrite)
                      .Execute("PRAGMA user_version = " + std::to_string(kStateDatabaseFormat + 1));
                },
                "newer hostsweep"},
        Refusal{"a corrupt JSON state", [](const fs::path& path) { std::ofstream(path) << "{\"x"; },
                "not a whole JSON object"},
        Refusal{"a FIFO", [](const fs::path& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); },
                "not a regular file"},
        Refusal{"a folder that is not there", nullptr, "unable to open", true}),
    testing::kNumberedName);

// A sweep that cannot be committed leaves the state before it, in the file
// and in the recorder: the next sweep tells its changes.
TEST_F(StateFile, KeepsTheStateBeforeASweepThatCannotBeCommitted) {
  RecordRound({Host(5, "nas", kLaptop)}, 0, 1);
  Database database(File(), StateAccess::kWrite);
  Recorder recorder(database, 1, kNoVendor);
  const WatchBook before = recorder.Book();
  database.Execute(
      "CREATE TRIGGER full BEFORE INSERT ON sweeps BEGIN SELECT RAISE(ABORT, 'disk full'); END");
  const std::vector<Address> swept{0x0A000005U, 0x0A000006U};
  EXPECT_THROW(recorder.Record({Host(6, "tv")}, swept, false, 1), SystemError);
  EXPECT_EQ(recorder.Book().known, before.known);
  database.Execute("DROP TRIGGER full");
  const auto events = recorder.Record({Host(6, "tv")}, swept, false, 2).told;
  ASSERT_EQ(events.size(), 2U);
  EXPECT_EQ(events[0].record, 2);
  EXPECT_EQ(events[1].change, Change::kGone);
}

// The changes as told go to every sink's queue in the sweep's own
// transaction, under the ids they are recorded with: one left untold is
// recorded all the same, one told otherwise is recorded as told, and one
// the telling adds is given the next id.
TEST_F(StateFile, QueuesTheToldEventsUnderTheirRecordedIds) {
  RecordRound({Host(5, "nas", kLaptop), Host(6, "tv")}, 0, 1);  // events 1 and 2
  Database database(File(), StateAccess::kWrite);
  Recorder recorder(database, 1, kNoVendor, {"command", "webhook"});
  const std::vector<Address> swept{0x0A000005U, 0x0A000006U, 0x0A000007U};
  const EventTelling telling{
      .told =
          [](std::vector<WatchEvent> round, const std::vector<KnownHost>&) {
            std::vector<WatchEvent> told;
            for (WatchEvent& event : round) {
              if (event.host.name == "nas") {
                event.change = Change::kMissing;
                told.push_back(event);
              }
            }
            told.push_back({.when = 1, .change = Change::kMissing, .host = Host(9, "absent")});
            return told;
          },
      .factsOf = [](const SeenHost&) { return KnownFacts{.known = true, .alias = "desk"}; }};
  // The sweep finds a host new (3) and neither of the two: both gone (4, 5).
  const auto told = recorder.Record({Host(7, "pc")}, swept, false, 1, telling).told;
  std::string toldIds;
  for (const WatchEvent& event : told) {
    toldIds += std::string(ChangeText(event.change)) + "#" + std::to_string(event.id) + " ";
  }
  EXPECT_EQ(toldIds, "missing#4 missing#6 ");
  const auto column = [&database](const std::string& sql) {
    const auto rows = database.Prepare(sql);
    std::string text;
    while (rows->Step()) {
      text += rows->Text(0) + " ";
    }
    return text;
  };
  EXPECT_EQ(column("SELECT change || '#' || id FROM events WHERE id > 2 ORDER BY id"),
            "new#3 missing#4 gone#5 missing#6 ");
  EXPECT_EQ(column("SELECT sink || '#' || event FROM sink_queue ORDER BY sink, event"),
            "command#4 command#6 webhook#4 webhook#6 ");
  const auto waiting = recorder.Queues().Waiting("webhook", 10);
  ASSERT_EQ(waiting.size(), 2U);
  EXPECT_EQ(waiting[0].event.host.name, "nas");
  EXPECT_EQ(waiting[0].event.known.alias, "desk");
  EXPECT_EQ(waiting[1].event.id, 6);
}

// A conflict's start and end are events of the device that answers with its
// first MAC (none: 0), queued as the others; the conflicts open outlive the
// recorder, as across a watch's restart.
TEST_F(StateFile, RecordsConflictsAndKeepsThoseOpenAcrossRestarts) {
  RecordRound({Host(5, "nas", kLaptop)}, 0, 1);  // event 1, device 1
  const LinkConflict address{.address = 0x0A000005U, .mac = kLaptop, .otherMac = kPrinter};
  const LinkConflict shared{.mac = kPhone, .addresses = 20};
  {
    Database database(File(), StateAccess::kWrite);
    Recorder recorder(database, 1, kNoVendor, {"webhook"});
    const auto told = recorder.RecordConflicts(
        ConflictEvents({.started = {address, shared}, .ended = {}}, recorder.Book().known, 1), {});
    ASSERT_EQ(told.size(), 2U);
    EXPECT_EQ(told[0].id, 2);
    EXPECT_EQ(told[0].record, 1);
    EXPECT_EQ(told[1].record, 0);
    const auto waiting = recorder.Queues().Waiting("webhook", 10);
    ASSERT_EQ(waiting.size(), 2U);
    EXPECT_EQ(waiting[0].event.conflict, address);
    EXPECT_EQ(waiting[1].event.conflict, shared);
  }
  Database database(File(), StateAccess::kWrite);
  Recorder recorder(database, 1, kNoVendor);
  EXPECT_EQ(recorder.OpenConflicts(), (std::vector{shared, address}));
  recorder.RecordConflicts(
      ConflictEvents({.started = {}, .ended = {address}}, recorder.Book().known, 2), {});
  EXPECT_EQ(recorder.OpenConflicts(), std::vector{shared});
  const auto rows = database.Prepare(
      "SELECT change || ' ' || device || ' ' || address || ' ' || coalesce(other_mac, addresses) "
      "FROM events WHERE id > 1 ORDER BY id");
  std::string recorded;
  while (rows->Step()) {
    recorded += rows->Text(0) + "; ";
  }
  EXPECT_EQ(recorded,
            "conflict 1 10.0.0.5 00:1a:2b:3c:4d:02; conflict 0 0.0.0.0 20; "
            "conflict-ended 1 10.0.0.5 00:1a:2b:3c:4d:02; ");
}

struct OlderFormat {
  const char* name;
  std::string undo;  // what the upgrade to it added
};

void PrintTo(const OlderFormat& format, std::ostream* os) { *os << format.name; }

class UpgradedFile : public StateFile, public ::testing::WithParamInterface<OlderFormat> {};

// A file of an older format gains what came after it, its rows kept.
TEST_P(UpgradedFile, GainsTheLaterTablesAndKeepsItsEvents) {
  RecordRound({Host(5, "nas", kLaptop)}, 0, 1);
  Database(File(), StateAccess::kWrite).Execute(GetParam().undo);
  EXPECT_EQ(RecordRound({Host(5, "nas", kLaptop)}, 1, 1), "");
  Database database(File(), StateAccess::kWrite);
  Recorder recorder(database, 1, kNoVendor, {"mqtt"});
  EXPECT_EQ(recorder.Queues().Status("mqtt").queued, 0U);
  const auto number = [&database](std::string_view sql) {
    const auto rows = database.Prepare(sql);
    return rows->Step() ? rows->Integer(0) : -1;
  };
  EXPECT_EQ(number("PRAGMA user_version"), kStateDatabaseFormat);
  EXPECT_EQ(number("SELECT count(*) FROM events"), 1) << "the first round's new nas";
  EXPECT_EQ(number("SELECT count(*) FROM sqlite_schema WHERE name = 'events_by_device'"), 1);
  EXPECT_EQ(number("SELECT count(*) FROM sqlite_schema WHERE name = 'open_conflicts'"), 1);
  EXPECT_EQ(number("SELECT count(*) FROM pragma_table_info('events') WHERE name IN "
                   "('other_mac', 'addresses')"),
            2);
  EXPECT_EQ(number("SELECT count(*) FROM sqlite_schema WHERE name = 'device_services'"), 1);
}

// What the upgrades to formats 4 and 5 added.
const std::string kUndoConflicts =
    "DROP TABLE device_services; DROP TABLE open_conflicts; ALTER TABLE events DROP COLUMN "
    "other_mac; ALTER TABLE events DROP COLUMN addresses; ";

INSTANTIATE_TEST_SUITE_P(
    Formats, UpgradedFile,
    ::testing::Values(
        OlderFormat{"before the queues",
                    kUndoConflicts + "DROP TABLE sink_queue; DROP TABLE sink_drops; DROP INDEX "
                                     "events_by_device; PRAGMA user_version = 1"},
        OlderFormat{"before the events by device",
                    kUndoConflicts + "DROP INDEX events_by_device; PRAGMA user_version = 2"},
        OlderFormat{"before the conflicts", kUndoConflicts + "PRAGMA user_version = 3"},
        OlderFormat{"before the services", "DROP TABLE device_services; PRAGMA user_version = 4"}),
    testing::kNumberedName);

// A second watch of the same file would call the first one's hosts gone.
TEST_F(StateFile, IsHeldByOneWriterAtATime) {
  const auto first = OpenStateStore(File(), 1, kNoVendor);
  EXPECT_THROW(OpenStateStore(File(), 1, kNoVendor), EarlierResultsError);
  EXPECT_NO_THROW(History(""));  // a reader beside the writer
}

struct Who {
  std::string who;
  std::vector<std::string> names;  // of the devices listed
};

void PrintTo(const Who& c, std::ostream* os) { *os << testing::Quoted(c.who); }

class HistoryOf : public StateFile, public ::testing::WithParamInterface<Who> {};

// Names from the network are data, never SQL: kept verbatim and found again.
const std::string kHostile = "'; DROP TABLE devices; --";

TEST_P(HistoryOf, ListsTheDevicesThatHadIt) {
  RecordRound({Host(5, "nas", kLaptop), Host(6, kHostile), Host(7, "a\"b'c")}, 0, 1);
  RecordRound({Host(9, "nas", kLaptop), Host(6, kHostile), Host(7, "a\"b'c")}, 1, 1);
  std::vector<std::string> names;
  for (const DeviceHistory& device : History(GetParam().who)) {
    names.push_back(device.name);
  }
  EXPECT_EQ(names, GetParam().names) << GetParam().who;
}

INSTANTIATE_TEST_SUITE_P(Devices, HistoryOf,
                         ::testing::Values(Who{"", {"nas", kHostile, "a\"b'c"}},
                                           Who{"10.0.0.5", {"nas"}},
                                           Who{"00-1A-2B-3C-4D-01", {"nas"}}, Who{"NAS", {"nas"}},
                                           Who{kHostile, {kHostile}}, Who{"a\"b'c", {"a\"b'c"}},
                                           Who{"10.0.0.8", {}}),
                         testing::kNumberedName);

// --history --csv is an inventory: edited and given back with --known, the
// same sweeps' history is the same text again, the user's columns kept.
TEST_F(StateFile, HistoryAsCsvIsAnInventoryThatReadsBackTheSame) {
  RecordRound({Host(5, "nas", kLaptop), Host(6, kHostile)}, 0, 1);
  const auto csv = [this](const Inventory* inventory) {
    std::ostringstream out;
    WriteHistory(File(), "", Format::kCsv, inventory, out);
    return out.str();
  };
  std::string edited = csv(nullptr);
  const std::string laptopRow = "00:1a:2b:3c:4d:01,10.0.0.5,,,,,";
  ASSERT_NE(edited.find(laptopRow), std::string::npos) << edited;
  edited.replace(edited.find(laptopRow), laptopRow.size(),
                 R"(00:1a:2b:3c:4d:01,10.0.0.5,"desk, ""A""",ann,always,under the desk,)");
  // The laptop's row ends with its away_after, empty until given.
  const std::size_t laptopEnd = edited.find("\r\n", edited.find("under the desk"));
  ASSERT_EQ(edited[laptopEnd - 1], ',');
  edited.insert(laptopEnd, "20m");
  const Inventory inventory = ParseInventory(edited);
  EXPECT_EQ(csv(&inventory), edited);
}

struct HistoryTimes {
  const char* name;
  TimeZone zone;
  const char* entry;
};

class HistoryTable : public ::testing::TestWithParam<HistoryTimes> {};

// A person at a terminal reads local times; piped, the table keeps UTC.
TEST_P(HistoryTable, TellsTimesInTheZoneAsked) {
  const LocalZone twoHoursEast("XST-2");
  const DeviceHistory device{.address = "10.0.0.5",
                             .name = "",
                             .mac = "",
                             .vendor = "",
                             .firstSeen = 60,
                             .lastSeen = 120,
                             .sessions = {{.began = 60}}};
  EXPECT_EQ(HistoryEntry(device, Format::kTable, nullptr, GetParam().zone), GetParam().entry);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, HistoryTable,
    ::testing::Values(
        HistoryTimes{"PipedInUtc", TimeZone::kUtc,
                     "10.0.0.5  away\n  first seen 1970-01-01T00:01:00Z, last seen "
                     "1970-01-01T00:02:00Z\n  sessions: 1970-01-01T00:01:00Z to now\n"},
        HistoryTimes{"TerminalInLocalTime", TimeZone::kLocal,
                     "10.0.0.5  away\n  first seen 1970-01-01 02:01:00, last seen "
                     "1970-01-01 02:02:00\n  sessions: 1970-01-01 02:01:00 to now\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hostsweep::controller
