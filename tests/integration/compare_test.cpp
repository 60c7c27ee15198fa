// What changed on the LAN, in the lab: hosts stood in for by ARP answerers
// with MACs of the test's choosing on an otherwise empty stretch of the lab's
// network; a sweep saved, the stand-ins changed, and the next sweep compared
// with it (--compare) or watched (--watch --state).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"
#include "tests/integration/stand_ins.h"
#include "tests/temporary_folder.h"

namespace hostsweep::testing {
namespace {

using ::testing::HasSubstr;

constexpr int kExitFound = 0;
constexpr int kExitChanged = 2;
constexpr int kExitInterrupted = 130;
constexpr milliseconds kPatience{60000};
constexpr const char* kTargets = "10.213.3.1-9";

std::filesystem::path WorkFile(const std::string& name) {
  static const TemporaryFolder folder;
  return folder / name;
}

// "address change previous" for each changed row.
std::vector<std::string> Changes(const std::string& jsonLines) {
  std::vector<std::string> changes;
  std::istringstream lines(jsonLines);
  for (std::string line; std::getline(lines, line);) {
    const auto row = nlohmann::json::parse(line);
    if (!row.at("change").is_null()) {
      changes.push_back(
          row.at("address").get<std::string>() + " " + row.at("change").get<std::string>() +
          (row.at("previous").is_null() ? "" : " " + row.at("previous").get<std::string>()));
    }
  }
  return changes;
}

class CompareInLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InLab()) {
      GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
    }
  }
};

TEST_F(CompareInLab, ClassifiesEveryChangeAndNothingElse) {
  const auto saved = WorkFile("earlier.json");
  {
    const auto hosts = StandUp({{"10.213.3.1", "00-1A-2B-00-00-01"},    // stays
                                {"10.213.3.2", "00-1A-2B-00-00-02"},    // leaves
                                {"10.213.3.3", "00-1A-2B-00-00-03"},    // moves to .7
                                {"10.213.3.4", "00-1A-2B-00-00-04"},    // replaced
                                {"10.213.3.5", "02-1A-2B-00-00-05"}});  // re-randomises
    const auto first = RunController({"--json", "--no-extra-names", kTargets});
    ASSERT_EQ(first.exitStatus, kExitFound) << first.standardError;
    std::ofstream(saved) << first.standardOutput;
  }
  const auto hosts = StandUp({{"10.213.3.1", "00-1A-2B-00-00-01"},
                              {"10.213.3.7", "00-1A-2B-00-00-03"},
                              {"10.213.3.4", "00-1A-2B-00-00-44"},
                              {"10.213.3.5", "06-1A-2B-00-00-55"},
                              {"10.213.3.6", "00-1A-2B-00-00-06"}});  // arrives
  const auto second =
      RunController({"--json", "--no-extra-names", "--compare", saved.string(), kTargets});
  EXPECT_EQ(second.exitStatus, kExitChanged) << second.standardError;
  EXPECT_THAT(Changes(second.standardOutput),
              ::testing::ElementsAre("10.213.3.2 gone", "10.213.3.4 mac-changed 00:1a:2b:00:00:04",
                                     "10.213.3.6 new", "10.213.3.7 moved 10.213.3.3"));

  // Compared with itself, nothing changed: the status says so.
  const auto now = WorkFile("now.json");
  std::ofstream(now) << second.standardOutput;
  const auto again = RunController(
      {"--json", "--no-extra-names", "--compare", now.string(), "--changes-only", kTargets});
  EXPECT_EQ(again.exitStatus, kExitFound) << again.standardError;
  EXPECT_EQ(again.standardOutput, "");
}

// The inventory (--known): its aliases in every format; a device expected
// always that goes down is missing, once; an ignored one that leaves is no
// change; --unknown-only leaves the new stranger alone.
TEST_F(CompareInLab, KnownDevicesShowTheirAliasAndAnAbsenceIsMissing) {
  const auto known = WorkFile("known.csv");
  std::ofstream(known) << "mac,address,alias,owner,expect,note\n"
                          "00:1a:2b:00:00:01,,front desk,ann,always,\n"
                          ",10.213.3.2,nas,,ignore,\n";
  const auto saved = WorkFile("known-earlier.json");
  const std::vector<std::string> sweep{"--no-extra-names", "--known", known.string(), kTargets};
  const auto with = [&](std::vector<std::string> options) {
    options.insert(options.end(), sweep.begin(), sweep.end());
    return RunController(options);
  };
  {
    const auto hosts =
        StandUp({{"10.213.3.1", "00-1A-2B-00-00-01"}, {"10.213.3.2", "00-1A-2B-00-00-02"}});
    EXPECT_THAT(with({}).standardOutput,
                ::testing::ContainsRegex("ALIAS\n(.*\n)*10\\.213\\.3\\.1 .* front desk\n"));
    EXPECT_THAT(with({"--csv"}).standardOutput, HasSubstr(",front desk,ann,true\r\n"));
    const auto first = with({"--json"});
    ASSERT_EQ(first.exitStatus, kExitFound) << first.standardError;
    EXPECT_THAT(first.standardOutput,
                HasSubstr(R"("alias":"front desk","owner":"ann","known":true})"));
    std::ofstream(saved) << first.standardOutput;
  }
  const auto hosts = StandUp({{"10.213.3.3", "00-1A-2B-00-00-03"}});
  const auto second = with({"--json", "--compare", saved.string()});
  EXPECT_EQ(second.exitStatus, kExitChanged) << second.standardError;
  EXPECT_THAT(Changes(second.standardOutput),
              ::testing::ElementsAre("10.213.3.1 missing", "10.213.3.3 new"));
  const auto strangers =
      with({"--json", "--compare", saved.string(), "--changes-only", "--unknown-only"});
  EXPECT_THAT(Changes(strangers.standardOutput), ::testing::ElementsAre("10.213.3.3 new"));
}

// Each change once, as seen; the state database read back on the next start,
// so that a host known before is not new again; a host gone once --gone-after
// sweeps missed it, and --history tells its session. A watch killed mid-sweep
// leaves a database that is whole and opens again.
TEST_F(CompareInLab, WatchKeepsItsStateAcrossRestartsAndKills) {
  if (!std::filesystem::exists("/usr/bin/sqlite3")) {
    GTEST_SKIP() << "needs sqlite3 for the integrity check (scripts/install-deps test)";
  }
  const auto state = WorkFile("state.db");
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::filesystem::remove(state.string() + suffix);
  }
  const std::vector<std::string> watch =
      ControllerCommand({"--watch", "1s", "--json", "--no-extra-names", "--announce-existing",
                         "--state", state.string(), "--gone-after", "2", kTargets});
  auto hosts = StandUp({{"10.213.3.1", "00-1A-2B-00-00-01"}});
  ProcessResult first;
  {
    ChildProcess watching(watch);
    ASSERT_TRUE(watching.AwaitOutput("\"10.213.3.1\"", kPatience));
    hosts.push_back(StandIn("10.213.3.6", "00-1A-2B-00-00-06"));
    ASSERT_TRUE(watching.AwaitOutput("\"10.213.3.6\"", kPatience));
    // A later arrival: the sweeps in between have seen .6 again.
    hosts.push_back(StandIn("10.213.3.8", "00-1A-2B-00-00-08"));
    ASSERT_TRUE(watching.AwaitOutput("\"10.213.3.8\"", kPatience));
    kill(watching.pid(), SIGINT);
    first = watching.Finish();
  }
  EXPECT_EQ(first.exitStatus, kExitInterrupted) << first.standardError;
  std::size_t arrivals = 0;
  for (std::size_t at = 0;
       (at = first.standardOutput.find("\"10.213.3.6\"", at)) != std::string::npos; ++at) {
    ++arrivals;
  }
  EXPECT_EQ(arrivals, 1U) << first.standardOutput;
  EXPECT_THAT(first.standardOutput, HasSubstr(R"("change":"new","address":"10.213.3.6")"));

  hosts.pop_back();  // .8 leaves while no watch runs
  {
    ChildProcess restarted(watch);
    ASSERT_TRUE(restarted.AwaitOutput("\"gone\"", kPatience));
    // Killed while it sweeps on: whatever it was doing, the file stays whole.
    std::this_thread::sleep_for(milliseconds(1500));
    kill(restarted.pid(), SIGKILL);
    const auto second = restarted.Finish();
    EXPECT_THAT(second.standardOutput, HasSubstr(R"("change":"gone","address":"10.213.3.8")"));
    EXPECT_THAT(second.standardOutput, ::testing::Not(HasSubstr("\"new\"")));
  }
  const auto check = RunProcess({"/usr/bin/sqlite3", state.string(), "PRAGMA integrity_check"});
  EXPECT_EQ(check.standardOutput, "ok\n") << check.standardError;

  const auto history =
      RunController({"--state", state.string(), "--history", "00:1a:2b:00:00:08", "--json"});
  EXPECT_EQ(history.exitStatus, kExitFound) << history.standardError;
  const auto device = nlohmann::json::parse(history.standardOutput);
  EXPECT_EQ(device.at("present"), false);
  ASSERT_EQ(device.at("sessions").size(), 1U) << history.standardOutput;
  EXPECT_FALSE(device.at("sessions")[0].at("ended").is_null());
}

}  // namespace
}  // namespace hostsweep::testing
