// The real controller with the real worker in the lab: whole sweeps, failing
// workers, interruption, and nothing left running afterwards.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"
#include "tests/temporary_folder.h"

namespace hostsweep::testing {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::SizeIs;

constexpr int kExitFound = 0;
constexpr int kExitNoneFound = 1;
constexpr int kExitUsage = 3;
constexpr int kExitSystem = 4;
constexpr int kExitInterrupted = 130;

// What the lab (tests/lab/lab.sh) has on 10.213.0.0/24; every other address is dead.
struct LabHost {
  std::string name;        // "?": not checked
  std::string netbiosMac;  // when the host runs a name service that answers
};

const std::map<std::string, LabHost>& LiveLabHosts() {
  static const auto* hosts = [] {
    auto* live =
        new std::map<std::string, LabHost>{{"10.213.0.1", {"scanner", ""}},
                                           {"10.213.0.10", {"alpha.lab", "02-00-5E-10-00-0A"}},
                                           {"10.213.0.11", {"bravo", "?"}},
                                           {"10.213.0.12", {"", ""}},
                                           {"10.213.0.13", {"delta", ""}},
                                           {"10.213.0.14", {"foxtrot", ""}},
                                           {"10.213.0.254", {"", ""}},
                                           {"10.213.0.30", {"GOLF", ""}},
                                           {"10.213.0.31", {"hotel.local", ""}},
                                           {"10.213.0.32", {"india.local", ""}},
                                           {"10.213.0.33", {"?", ""}},
                                           {"10.213.0.34", {"", ""}},
                                           {"10.213.0.35", {"", ""}}};
    for (int last = 100; last <= 149; ++last) {
      (*live)["10.213.0." + std::to_string(last)] = {"", ""};
    }
    return live;
  }();
  return *hosts;
}

constexpr const char* kMute = "10.213.0.15";  // drops echo requests

struct Adapter {
  std::string mac;
  std::string maker;
};

// "address MAC maker" lines the lab wrote when it gave its hosts their
// adapter addresses, makers read from ieee-data's registries.
std::map<std::string, Adapter> LabAdapters(const std::string& file) {
  std::map<std::string, Adapter> adapters;
  const char* state = std::getenv("HOSTSWEEP_LAB_STATE");
  std::ifstream lines(std::string(state == nullptr ? "" : state) + "/" + file);
  std::string address;
  Adapter adapter;
  while (lines >> address >> adapter.mac && std::getline(lines >> std::ws, adapter.maker)) {
    adapters[address] = adapter;
  }
  return adapters;
}

// The MAC of the scanner's bridge, as `ip` writes it.
std::string ScannerMac() {
  std::istringstream fields(RunProcess({"/bin/ip", "-br", "link", "show", "br0"}).standardOutput);
  std::string name;
  std::string state;
  std::string mac;
  fields >> name >> state >> mac;
  return mac;
}

// Entries from earlier tests would make a host that was heard on the link
// then look silent or not by their age; each such test starts afresh.
void ForgetNeighbours() {
  ASSERT_EQ(RunProcess({"/bin/ip", "-4", "neigh", "flush", "dev", "br0"}).exitStatus, 0);
}

std::string TempFile(const std::string& name, const std::string& content) {
  static const TemporaryFolder folder;
  const auto path = folder / name;
  std::ofstream(path) << content;
  return path.string();
}

class ControllerInLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InLab()) {
      GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
    }
  }
  void TearDown() override {
    // The controller reaps every worker it caused before it exits.
    EXPECT_TRUE(WaitUntilNoneRun(WorkerPath(), milliseconds(0))) << "a worker outlived the sweep";
  }
};

TEST_F(ControllerInLab, SlashTwentyFourGivesOneResultPerAddressAsTheLabDefinesIt) {
  const auto adapters = LabAdapters("link");
  if (adapters.empty()) {
    GTEST_SKIP() << "the lab gave its hosts no fixed adapter addresses (package ieee-data)";
  }
  ForgetNeighbours();
  const auto run = RunController({"--csv", "10.213.0.0/24"});
  ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
  const auto records = ReadCsv(run.standardOutput);
  ASSERT_THAT(records, SizeIs(255));
  EXPECT_THAT(records[0], ElementsAre("address", "state", "rtt_ms", "ttl", "name", "mac", "vendor",
                                      "type", "make", "model", "type_from"));
  for (int last = 1; last <= 254; ++last) {
    const auto& record = records[static_cast<std::size_t>(last)];
    ASSERT_THAT(record, SizeIs(11));
    const std::string address = "10.213.0." + std::to_string(last);
    EXPECT_EQ(record[0], address);
    const auto live = LiveLabHosts().find(address);
    const auto adapter = adapters.find(address);
    if (address == kMute) {
      EXPECT_THAT(record, ElementsAre(address, "silent", "", "", "mute.lab", adapter->second.mac,
                                      adapter->second.maker, "", "", "", ""));
      continue;
    }
    if (live == LiveLabHosts().end()) {
      EXPECT_THAT(record, ElementsAre(address, "dead", "", "", "", "", "", "", "", "", ""));
      continue;
    }
    EXPECT_EQ(record[1], "alive") << address;
    EXPECT_THAT(record[3], ::testing::MatchesRegex("[0-9]+")) << address;
    if (live->second.name != "?") {
      EXPECT_EQ(record[4], live->second.name) << address;
    }
    // The scanner's own address has no neighbour entry: its row shows its
    // bridge's MAC. Every other host's adapter is the one the lab gave it,
    // whatever NetBIOS said.
    Adapter expected = adapter == adapters.end() ? Adapter{} : adapter->second;
    if (address == "10.213.0.1") {
      expected = {ScannerMac(), "(locally administered)"};
    }
    EXPECT_EQ(record[5], expected.mac) << address;
    EXPECT_EQ(record[6], expected.maker) << address;
  }
}

// Where each MAC comes from: the neighbour table on the link (alpha's NetBIOS
// unit ID differs and is kept aside), NetBIOS behind the router, nothing for
// a dead routed address even though the router's own entry is known.
TEST_F(ControllerInLab, EachMacNamesItsSourceAndTheRoutedHostGetsNoNeighbourMac) {
  const auto adapters = LabAdapters("link");
  const auto routed = LabAdapters("netbios");
  if (adapters.empty() || routed.empty()) {
    GTEST_SKIP() << "the lab gave its hosts no fixed adapter addresses (package ieee-data)";
  }
  ForgetNeighbours();
  const auto run = RunController({"--json", "-v", "--no-arp", "10.213.0.10", "10.213.0.11", kMute,
                                  "10.213.16.10", "10.213.16.11"});
  ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
  std::map<std::string, nlohmann::json> hosts;
  std::istringstream lines(run.standardOutput);
  for (std::string line; std::getline(lines, line);) {
    const auto object = nlohmann::json::parse(line);
    hosts[object.at("address")] = object;
  }
  ASSERT_THAT(hosts, SizeIs(5));
  struct Expected {
    std::string address, state, echo;
    nlohmann::json mac, vendor, source, netbios;
  };
  const auto& alpha = adapters.at("10.213.0.10");
  const auto& bravo = adapters.at("10.213.0.11");
  const auto& mute = adapters.at(kMute);
  const auto& behind = routed.at("10.213.16.10");
  const nlohmann::json null;
  const Expected expected[] = {
      {"10.213.0.10", "alive", "alive", alpha.mac, alpha.maker, "neighbour", "02:00:5e:10:00:0a"},
      {"10.213.0.11", "alive", "alive", bravo.mac, bravo.maker, "neighbour", "00:00:00:00:00:00"},
      {kMute, "silent", "dead", mute.mac, mute.maker, "neighbour", null},
      {"10.213.16.10", "alive", "alive", behind.mac, behind.maker, "netbios", behind.mac},
      {"10.213.16.11", "dead", "dead", null, null, null, null}};
  for (const auto& e : expected) {
    const auto& host = hosts[e.address];
    EXPECT_EQ(host.at("state"), e.state) << e.address;
    EXPECT_EQ(host.at("echo"), e.echo) << e.address;
    EXPECT_EQ(host.at("mac"), e.mac) << e.address;
    EXPECT_EQ(host.at("vendor"), e.vendor) << e.address;
    EXPECT_EQ(host.at("mac_source"), e.source) << e.address;
    EXPECT_EQ(host.at("netbios_mac"), e.netbios) << e.address;
  }
  EXPECT_THAT(run.standardError, HasSubstr("10.213.0.10: NetBIOS gave 02:00:5e:10:00:0a"));
}

TEST_F(ControllerInLab, LocalnetSweepsExactlyTheLabNetworkWithTheOtherTargets) {
  const auto run = RunController({"--csv", "--localnet", "10.213.16.10"});
  ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
  EXPECT_THAT(run.standardError, HasSubstr("--localnet: sweeping 10.213.0.0/20\n"));
  const auto records = ReadCsv(run.standardOutput);
  ASSERT_THAT(records, SizeIs(1 + 4094 + 1));
  EXPECT_EQ(records[1][0], "10.213.0.1");
  EXPECT_EQ(records[4094][0], "10.213.15.254");
  EXPECT_EQ(records[4095][0], "10.213.16.10");
}

TEST_F(ControllerInLab, JsonLinesParseWithStableKeysInTargetOrder) {
  const auto run = RunController({"--json", "10.213.0.9-15", "10.213.0.12", "10.213.0.2"});
  ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
  std::istringstream lines(run.standardOutput);
  std::vector<std::string> addresses;
  for (std::string line; std::getline(lines, line);) {
    const auto object = nlohmann::ordered_json::parse(line);
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items()) {
      keys.push_back(key);
    }
    // What a device said it is follows, on the rows of devices that said it.
    const std::vector<std::string> always{
        "address", "state",      "echo",        "rtt_ms",      "ttl",       "name",    "mac",
        "vendor",  "mac_source", "netbios_mac", "name_source", "workgroup", "evidence"};
    auto expected = always;
    if (keys.size() > always.size()) {
      expected.insert(expected.end(), {"type", "make", "model", "type_from", "services"});
    }
    EXPECT_EQ(keys, expected);
    addresses.push_back(object.at("address"));
    if (object.at("address") == kMute) {
      EXPECT_EQ(object.at("echo"), "dead");
      EXPECT_TRUE(object.at("rtt_ms").is_null());
    }
  }
  EXPECT_THAT(addresses, ElementsAre("10.213.0.9", "10.213.0.10", "10.213.0.11", "10.213.0.12",
                                     "10.213.0.13", "10.213.0.14", "10.213.0.15", "10.213.0.2"));
}

std::map<std::string, nlohmann::json> JsonByAddress(const std::string& output) {
  std::map<std::string, nlohmann::json> objects;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    auto object = nlohmann::json::parse(line);
    const std::string address = object.at("address");
    objects[address] = std::move(object);
  }
  return objects;
}

TEST_F(ControllerInLab, HostsDnsDoesNotNameGetTheirMdnsOrNetbiosNameWithItsSource) {
  struct Expected {
    std::string address;
    nlohmann::json name;
    nlohmann::json source;
    nlohmann::json workgroup;
  };
  const std::vector<Expected> expected{
      {"10.213.0.10", "alpha.lab", "dns", nullptr},           // in the hosts file: not asked
      {kMute, "mute.lab", "dns", nullptr},                    // silent: named as the live are
      {"10.213.0.12", nullptr, nullptr, nullptr},             // no name service at all
      {"10.213.0.30", "GOLF", "netbios", "LABGROUP"},         // NetBIOS only
      {"10.213.0.31", "hotel.local", "mdns", nullptr},        // mDNS only
      {"10.213.0.32", "india.local", "mdns", "LAB"},          // both: mDNS first
      {"10.213.0.33", "juliet\x1b[2J.local", "mdns", "LAB"},  // after floods of hostile answers
      {"10.213.0.34", nullptr, nullptr, nullptr},             // answers from another address
      {"10.213.0.35", nullptr, nullptr, nullptr},
  };
  std::vector<std::string> targets{"--json"};
  for (const auto& host : expected) {
    targets.push_back(host.address);
  }
  for (const bool extra : {true, false}) {
    auto arguments = targets;
    if (!extra) {
      arguments.emplace_back("--no-extra-names");
    }
    const auto run = RunController(arguments);
    ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
    auto objects = JsonByAddress(run.standardOutput);
    for (const auto& host : expected) {
      const auto& object = objects[host.address];
      EXPECT_EQ(object.at("state"), host.address == kMute ? "silent" : "alive") << host.address;
      const bool dns = host.source == "dns";
      EXPECT_EQ(object.at("name"), extra || dns ? host.name : nullptr) << host.address;
      EXPECT_EQ(object.at("name_source"), extra || dns ? host.source : nullptr) << host.address;
      EXPECT_EQ(object.at("workgroup"), extra ? host.workgroup : nullptr) << host.address;
    }
  }
  const auto table = RunController({"10.213.0.33"});
  EXPECT_THAT(table.standardOutput, HasSubstr("juliet?[2J.local"));
  EXPECT_EQ(table.standardOutput.find('\x1b'), std::string::npos);
}

TEST_F(ControllerInLab, SlotsOfAFailedWorkerAreNoReportAndItsMessageIsShown) {
  // Every batch's worker is the real one, except the one given 10.213.0.12.
  const std::string worker = TempFile(
      "hostsweep-controller-test-worker.sh",
      "#!/bin/sh\ncase \"$1\" in *,10.213.0.12,*) echo 'deliberate failure' >&2; exit 1;; esac\n"
      "exec " +
          WorkerPath() + " \"$1\"\n");
  chmod(worker.c_str(), 0700);
  const auto run = RunController({"--csv", "--batch", "1", "--worker", worker, "10.213.0.10-13"});
  ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
  const auto records = ReadCsv(run.standardOutput);
  ASSERT_THAT(records, SizeIs(5));
  EXPECT_EQ(records[1][1], "alive");
  EXPECT_EQ(records[2][1], "alive");
  EXPECT_THAT(records[3],
              ElementsAre("10.213.0.12", "no report", "", "", "", "", "", "", "", "", ""));
  EXPECT_EQ(records[4][1], "alive");
  EXPECT_THAT(run.standardError, AllOf(HasSubstr("10.213.0.12"), HasSubstr("deliberate failure")));
}

TEST_F(ControllerInLab, AWorkerThatConnectsAndNeverSendsDoesNotStallTheSweep) {
  const std::string worker =
      TempFile("hostsweep-controller-test-silent.sh", std::string("#!/bin/sh\nexec ") +
                                                          HOSTSWEEP_SILENT_WORKER_PATH + " " +
                                                          WorkerPath() + " \"$1\"\n");
  chmod(worker.c_str(), 0700);
  const auto run = RunController({"--csv", "--batch", "1", "--worker", worker, "10.213.0.10-12"});
  ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
  const auto records = ReadCsv(run.standardOutput);
  ASSERT_THAT(records, SizeIs(4));
  EXPECT_THAT(records[1], ElementsAre("10.213.0.10", "alive", ::testing::_, ::testing::_,
                                      "alpha.lab", ::testing::_, ::testing::_, ::testing::_,
                                      ::testing::_, ::testing::_, ::testing::_));
  EXPECT_EQ(records[2][4], "bravo");
  EXPECT_EQ(records[3][1], "alive");
}

// Targets may be host names (through the lab's hosts file, swept at their
// address) and last-octet lists; a name the file lacks is said and left out,
// and a usage error only when nothing else is left.
TEST_F(ControllerInLab, NamesOnlyReportsEachAddressName) {
  const auto run =
      RunController({"--csv", "--names-only", "alpha.lab", "10.213.0.11,12", "10.213.0.200"});
  ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
  const auto records = ReadCsv(run.standardOutput);
  ASSERT_THAT(records, SizeIs(5));
  EXPECT_THAT(records[1],
              ElementsAre("10.213.0.10", "named", "", "", "alpha.lab", "", "", "", "", "", ""));
  EXPECT_THAT(records[2],
              ElementsAre("10.213.0.11", "named", "", "", "bravo", "", "", "", "", "", ""));
  EXPECT_THAT(records[3],
              ElementsAre("10.213.0.12", "unnamed", "", "", "", "", "", "", "", "", ""));
  EXPECT_THAT(records[4],
              ElementsAre("10.213.0.200", "unnamed", "", "", "", "", "", "", "", "", ""));
  const auto unknown = RunController({"--csv", "--names-only", "alpha.lab", "nosuch.lab"});
  EXPECT_EQ(unknown.exitStatus, kExitFound);
  EXPECT_THAT(unknown.standardError, HasSubstr("skipping \"nosuch.lab\": no IPv4 address"));
  EXPECT_THAT(ReadCsv(unknown.standardOutput), SizeIs(2));
  const auto none = RunController({"nosuch.lab"});
  EXPECT_EQ(none.exitStatus, kExitUsage);
  EXPECT_THAT(none.standardError, HasSubstr("nothing left to sweep"));
  EXPECT_EQ(none.standardOutput, "");
}

// A silent host counts as found: --alive shows it and the exit status says so.
TEST_F(ControllerInLab, ExitStatusAndAliveCountSilentHostsAsFound) {
  ForgetNeighbours();
  const auto silent = RunController({"--csv", "--alive", kMute, "10.213.0.200", "10.213.16.11"});
  EXPECT_EQ(silent.exitStatus, kExitFound) << silent.standardError;
  const auto records = ReadCsv(silent.standardOutput);
  ASSERT_THAT(records, SizeIs(2));
  EXPECT_THAT(records[1],
              ElementsAre(kMute, "silent", "", "", "mute.lab", ::testing::_, ::testing::_,
                          ::testing::_, ::testing::_, ::testing::_, ::testing::_));
  const auto none = RunController({"--csv", "10.213.0.200", "10.213.16.11"});
  EXPECT_EQ(none.exitStatus, kExitNoneFound) << none.standardError;
  EXPECT_THAT(ReadCsv(none.standardOutput), SizeIs(3));
}

struct ScreenCase {
  const char* what;
  bool terminal;  // standard output and error on a pseudo-terminal
  std::vector<std::string> options;
  bool deadShown;
  bool summed;
};

void PrintTo(const ScreenCase& c, std::ostream* os) { *os << c.what; }

class ScreenTable : public ControllerInLab, public ::testing::WithParamInterface<ScreenCase> {};

// A terminal's table lists the hosts found (all of them with --all), a piped
// one every address; every sweep but a quiet one ends with one summary line.
TEST_P(ScreenTable, ShowsTheHostsFoundAndSumsUp) {
  const auto& c = GetParam();
  auto arguments = c.options;
  arguments.insert(arguments.end(), {"10.213.0.10", "10.213.0.200"});
  auto command = ControllerCommand(arguments);
  if (c.terminal) {
    std::string line;  // no word of it needs quoting
    for (const auto& word : command) {
      line += (line.empty() ? "" : " ") + word;
    }
    command = {"/usr/bin/script", "-qec", line, "/dev/null"};
  }
  const auto run = RunProcess(command);
  ASSERT_EQ(run.exitStatus, kExitFound) << run.standardOutput << run.standardError;
  // On a terminal, both streams arrive as one.
  const std::string& table = run.standardOutput;
  const std::string& errors = c.terminal ? run.standardOutput : run.standardError;
  EXPECT_THAT(table, HasSubstr("10.213.0.10"));
  EXPECT_EQ(table.find("10.213.0.200") != std::string::npos, c.deadShown) << table;
  EXPECT_EQ(errors.find("hostsweep: 2 addresses swept: 1 alive, 0 silent, 1 dead in ") !=
                std::string::npos,
            c.summed)
      << errors;
}

INSTANTIATE_TEST_SUITE_P(Lab, ScreenTable,
                         ::testing::Values(ScreenCase{"terminal", true, {}, false, true},
                                           ScreenCase{"terminal_all", true, {"--all"}, true, true},
                                           ScreenCase{"piped", false, {}, true, true},
                                           ScreenCase{"piped_quiet", false, {"-q"}, true, false},
                                           ScreenCase{"terminal_csv", true, {"--csv"}, true, true}),
                         [](const auto& info) { return std::string(info.param.what); });

struct PriorEntry {
  const char* name;
  const char* address;
  const char* state;  // the entry's state before the sweep; nullptr: none
  const char* mac;    // nullptr: the one a first sweep resolves
  const char* verdict;
};

void PrintTo(const PriorEntry& c, std::ostream* os) { *os << c.name; }

class SilentVerdict : public ControllerInLab, public ::testing::WithParamInterface<PriorEntry> {};

// A host that ignores echo reads the same whatever the neighbour table held
// before the sweep: the verdict rests on what the sweep itself saw.
TEST_P(SilentVerdict, DoesNotDependOnTheEntryFromBeforeTheSweep) {
  const auto& c = GetParam();
  ForgetNeighbours();
  if (c.state != nullptr) {
    std::vector<std::string> set{"/bin/ip", "-4", "neigh", "replace", c.address, "dev", "br0"};
    if (c.mac == nullptr) {
      RunController({"-q", "--no-extra-names", c.address});
      set[3] = "change";
    } else {
      set.insert(set.end(), {"lladdr", c.mac});
    }
    set.insert(set.end(), {"nud", c.state});
    ASSERT_EQ(RunProcess(set).exitStatus, 0);
  }
  const auto run = RunController({"--csv", "--no-extra-names", c.address});
  const auto records = ReadCsv(run.standardOutput);
  ASSERT_THAT(records, SizeIs(2)) << run.standardError;
  EXPECT_EQ(records[1][1], c.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Neighbours, SilentVerdict,
    ::testing::Values(PriorEntry{"MuteUnknown", kMute, nullptr, nullptr, "silent"},
                      PriorEntry{"MuteStale", kMute, "stale", nullptr, "silent"},
                      PriorEntry{"MuteReachable", kMute, "reachable", nullptr, "silent"},
                      PriorEntry{"DeadStale", "10.213.0.200", "stale", "02:00:00:00:02:00", "dead"},
                      PriorEntry{"DeadReachable", "10.213.0.200", "reachable", "02:00:00:00:02:00",
                                 "dead"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControllerInLab, InterruptionEndsEveryWorkerAndPrintsWhatArrived) {
  // A dead /24 two workers at a time runs for minutes: the signal lands mid-sweep.
  const auto run = RunController({"--csv", "-j", "2", "10.213.1.0/24"}, Interrupt::kAfterFirstRow);
  EXPECT_EQ(run.exitStatus, kExitInterrupted) << run.standardError;
  EXPECT_THAT(run.standardError, HasSubstr("interrupted"));
  const auto records = ReadCsv(run.standardOutput);
  ASSERT_GE(records.size(), 2U);
  EXPECT_LT(records.size(), 255U);
  for (std::size_t i = 1; i < records.size(); ++i) {
    EXPECT_EQ(records[i][1], "dead") << records[i][0];
  }
}

TEST_F(ControllerInLab, BadTargetsAndAMissingWorkerStartNothing) {
  const auto bad = RunController({"10.213.0.1", "10.213.0.300"});
  EXPECT_EQ(bad.exitStatus, kExitUsage);
  EXPECT_THAT(bad.standardError, HasSubstr("\"10.213.0.300\""));
  EXPECT_EQ(bad.standardOutput, "");
  const auto missing = RunController({"--worker", "/nonexistent/worker", "10.213.0.10"});
  EXPECT_EQ(missing.exitStatus, kExitSystem);
  EXPECT_THAT(missing.standardError, HasSubstr("/nonexistent/worker"));
}

// The scanner's neighbour settings for the lab bridge, put back when done.
class BridgeNeighbourSetting {
 public:
  BridgeNeighbourSetting(const std::string& name, const std::string& value)
      : path_("/proc/sys/net/ipv4/neigh/br0/" + name) {
    std::ifstream(path_) >> saved_;
    std::ofstream(path_) << value;
  }
  BridgeNeighbourSetting(const BridgeNeighbourSetting&) = delete;
  BridgeNeighbourSetting& operator=(const BridgeNeighbourSetting&) = delete;
  ~BridgeNeighbourSetting() { std::ofstream(path_) << saved_; }

 private:
  std::string path_;
  std::string saved_;
};

// Sends one datagram to each of `count` silent lab addresses from 10.213.4.1
// on, each from a socket of its own, so that every address holds a neighbour
// entry while it is being resolved. Returns the error of one more such send
// with errors reported (ENOBUFS once the table is full), or 0.
int FillNeighbourTable(int count) {
  const auto send = [](int index, bool reportErrors) {
    const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    const int on = 1;
    if (reportErrors) {
      setsockopt(udp, SOL_IP, IP_RECVERR, &on, sizeof on);
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(9);
    target.sin_addr.s_addr = htonl((10U << 24 | 213U << 16 | 4U << 8) + 1 + index);
    const int error =
        sendto(udp, "x", 1, 0, reinterpret_cast<sockaddr*>(&target), sizeof target) < 0 ? errno : 0;
    close(udp);
    return error;
  };
  for (int i = 0; i < count; ++i) {
    send(i, false);
  }
  return send(count, true);
}

void FlushBridgeNeighbours() { ChildProcess({"/bin/sh", "-c", "ip neigh flush dev br0"}).Finish(); }

// Only the fill's entries: a flush of the whole bridge during the sweep would
// also remove the entries the workers have just made for the live hosts,
// and with them the echo requests waiting for the hosts' answers.
void FlushFilledNeighbours() {
  ChildProcess(
      {"/bin/sh", "-c",
       "ip neigh flush dev br0 to 10.213.4.0/22 && ip neigh flush dev br0 to 10.213.8.0/22"})
      .Finish();
}

TEST_F(ControllerInLab, LiveHostsAreFoundWhileTheNeighbourTableIsFull) {
  // The table is the machine's (1024 entries unless raised). The fill's
  // entries would resolve for 5 s, past both of a worker's echo requests (at
  // its start and a second later); they are removed 1.5 s into the sweep,
  // inside the second request's time-out. A worker that takes a request the
  // machine could not send for a lost one reads the live hosts as dead.
  constexpr int kFill = 1100;  // 10.213.4.1 to 10.213.8.77
  {
    const BridgeNeighbourSetting probes("mcast_solicit", "1");
    const BridgeNeighbourSetting pause("retrans_time_ms", "5000");
    FlushBridgeNeighbours();
    if (FillNeighbourTable(kFill) != ENOBUFS) {
      GTEST_SKIP() << kFill << " silent addresses did not fill the neighbour table";
    }
  }
  // The lab's hosts share this machine's table, and a host whose kernel
  // cannot make an entry for the scanner does not answer its ARP request.
  // While the table is full, the kernel's forced collection may still free an
  // entry of another namespace for a worker's request, whose solicitation
  // then goes unanswered: solicited again every 100 ms, such an entry
  // resolves once the fill is gone, as a real peer with its own table would
  // have answered at once.
  const BridgeNeighbourSetting eagerProbes("mcast_solicit", "30");
  const BridgeNeighbourSetting shortPause("retrans_time_ms", "100");
  // The echo path only: the device questions are left out.
  ChildProcess sweep(ControllerCommand({"--no-arp", "--no-types", "--csv", "10.213.0.10-15"}));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  FlushFilledNeighbours();
  const auto run = sweep.Finish();
  const auto records = ReadCsv(run.standardOutput);
  ASSERT_THAT(records, SizeIs(7)) << run.standardError;
  for (std::size_t i = 1; i < records.size(); ++i) {
    EXPECT_EQ(records[i][1] == "alive", LiveLabHosts().contains(records[i][0]))
        << records[i][0] << " " << records[i][1];
  }
}

}  // namespace
}  // namespace hostsweep::testing
