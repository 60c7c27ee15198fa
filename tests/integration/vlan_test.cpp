// VLANs from a trunk port (lab.sh vlans: trunk_switch between the scanner's
// trunk0 and hosts on VLANs 10 and 20): tagged ARP requests find each VLAN's
// hosts, with the rows an on-link host gets, and never a host that holds the
// address on another VLAN; several VLANs in one sweep and in one watch.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tests/case_name.h"
#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"
#include "tests/temporary_folder.h"

namespace hostsweep::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr int kExitInterrupted = 130;
constexpr milliseconds kPatience{60000};

// One of the lab's lists of what it set up.
std::ifstream LabList(const char* name) {
  const char* state = std::getenv("HOSTSWEEP_LAB_STATE");
  return {std::filesystem::path(state != nullptr ? state : "") / name};
}

// "VLAN address" to MAC, as lab.sh vlans lists its hosts.
std::map<std::string, std::string> VlanHosts() {
  std::map<std::string, std::string> hosts;
  auto lines = LabList("vlans");
  for (std::string vlan, address, mac; lines >> vlan >> address >> mac;) {
    hosts[vlan.append(" ").append(address)] = mac;
  }
  return hosts;
}

// The maker lab.sh's MACs for the VLAN hosts share with alpha's (10.213.0.10).
std::string AlphasMaker() {
  auto lines = LabList("link");
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string address;
    std::string mac;
    std::string maker;
    std::getline(fields >> address >> mac >> std::ws, maker);
    if (address == "10.213.0.10") {
      return maker;
    }
  }
  return {};
}

class LabVlans : public ::testing::Environment {
 public:
  void SetUp() override {
    if (InLab()) {
      started_ = RunProcess({HOSTSWEEP_LAB_SCRIPT, "vlans"});
    }
  }
  void TearDown() override {
    if (InLab()) {
      RunProcess({HOSTSWEEP_LAB_SCRIPT, "unvlans"});
    }
  }
  static ProcessResult started_;
};

ProcessResult LabVlans::started_{};
[[maybe_unused]] ::testing::Environment* const kLabVlans =
    ::testing::AddGlobalTestEnvironment(new LabVlans);

class VlanInLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InLab()) {
      GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
    }
    ASSERT_EQ(LabVlans::started_.exitStatus, 0)
        << "lab.sh vlans failed: " << LabVlans::started_.standardError;
  }
};

struct TrunkSweep {
  const char* what;
  std::vector<std::string> arguments;
  // "VLAN address" of each host it must find; every other address is dead.
  std::set<std::string> found;
};

void PrintTo(const TrunkSweep& c, std::ostream* os) { *os << c.what; }

class TrunkSweepInLab : public VlanInLab, public ::testing::WithParamInterface<TrunkSweep> {};

TEST_P(TrunkSweepInLab, FindsEachVlansOwnHostsWithTheirMacs) {
  const auto& c = GetParam();
  const auto hosts = VlanHosts();
  const auto maker = AlphasMaker();
  std::vector<std::string> arguments{"--json", "--no-extra-names", "--no-types"};
  arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
  const auto run = RunController(arguments);
  const auto rows = JsonByAddress(run.standardOutput);
  ASSERT_FALSE(rows.empty()) << run.standardError;
  std::set<std::string> found;
  for (const auto& [address, row] : rows) {
    if (row["state"] == "dead") {
      continue;
    }
    // A VLAN this machine has no route to: the link alone saw the host.
    EXPECT_EQ(row["state"], "silent") << address;
    EXPECT_EQ(row["mac_source"], "arp") << address;
    EXPECT_EQ(row["vendor"], maker) << address;
    for (const auto& [key, mac] : hosts) {
      if (key.substr(key.find(' ') + 1) == address && row["mac"] == mac) {
        found.insert(key);
      }
    }
  }
  EXPECT_EQ(found, c.found) << run.standardOutput << run.standardError;
}

INSTANTIATE_TEST_SUITE_P(
    Lab, TrunkSweepInLab,
    ::testing::Values(
        TrunkSweep{"VLAN 10: its two hosts, not VLAN 20's holder of its third address",
                   {"--vlan", "trunk0.10", "10.215.10.8/29"},
                   {"10 10.215.10.10", "10 10.215.10.11"}},
        TrunkSweep{"VLAN 20 for VLAN 10's network: the one host that holds it there",
                   {"--interface", "trunk0", "--vlan", "20", "10.215.10.8/29"},
                   {"20 10.215.10.12"}},
        TrunkSweep{"both VLANs in one sweep, each for its network",
                   {"--vlan", "trunk0.10@10.215.10.0/24", "--vlan", "trunk0.20@10.215.20.0/24",
                    "10.215.10.8/29", "10.215.20.8/29"},
                   {"10 10.215.10.10", "10 10.215.10.11", "20 10.215.20.10", "20 10.215.20.11"}},
        TrunkSweep{"VLAN 30, which no access port carries: no host",
                   {"--vlan", "trunk0.30", "10.215.10.8/29"},
                   {}}),
    kNumberedName);

// A watch sweeps both VLANs: each of their hosts is new, the one on the wrong
// VLAN never.
TEST_F(VlanInLab, AWatchSweepsBothVlans) {
  const TemporaryFolder folder;
  ChildProcess watching(ControllerCommand(
      {"--watch", "1s", "--json", "--no-extra-names", "--no-types", "--announce-existing",
       "--state", (folder / "state.db").string(), "--vlan", "trunk0.10@10.215.10.0/24", "--vlan",
       "trunk0.20@10.215.20.0/24", "10.215.10.8/29", "10.215.20.8/29"}));
  for (const char* address : {"10.215.10.10", "10.215.10.11", "10.215.20.10", "10.215.20.11"}) {
    ASSERT_TRUE(watching.AwaitOutput(std::string("\"") + address + "\"", kPatience)) << address;
  }
  kill(watching.pid(), SIGINT);
  const auto watched = watching.Finish();
  EXPECT_EQ(watched.exitStatus, kExitInterrupted) << watched.standardError;
  EXPECT_THAT(watched.standardOutput, Not(HasSubstr("\"10.215.10.12\"")));
}

}  // namespace
}  // namespace hostsweep::testing
