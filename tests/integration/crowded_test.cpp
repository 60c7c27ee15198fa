// A crowded network in the lab: 1200 live hosts on the lab's on-link network,
// each with its own MAC, half of them named: more than the machine's
// neighbour table (1024 entries by default) holds while they count as
// reachable. Every one must still read alive, with its MAC and name, at the
// default rate and at a high one, and never silent while others hold the table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"

namespace hostsweep::testing {
namespace {

constexpr int kExitFound = 0;
constexpr const char* kCrowdSize = "1200";
constexpr const char* kCrowd = "10.213.4.1-10.213.8.176";

struct CrowdHost {
  std::string mac;
  std::string name;  // "" for none
};

// The "address MAC name-or--" lines lab.sh crowd wrote.
std::map<std::string, CrowdHost> CrowdHosts() {
  std::map<std::string, CrowdHost> hosts;
  const char* state = std::getenv("HOSTSWEEP_LAB_STATE");
  std::ifstream lines(std::string(state == nullptr ? "" : state) + "/crowd");
  std::string address;
  CrowdHost host;
  while (lines >> address >> host.mac >> host.name) {
    hosts[address] = {host.mac, host.name == "-" ? "" : host.name};
  }
  return hosts;
}

class CrowdInLab : public ::testing::Test {
 protected:
  // The crowd lives only while these tests run: the other lab tests sweep
  // the same /20, and its devices load the machine's neighbour table.
  static void SetUpTestSuite() {
    built_ = InLab() && RunProcess({HOSTSWEEP_LAB_SCRIPT, "crowd", kCrowdSize}).exitStatus == 0;
  }
  static void TearDownTestSuite() {
    if (InLab()) {
      RunProcess({HOSTSWEEP_LAB_SCRIPT, "unfill"});
      RunProcess({HOSTSWEEP_LAB_SCRIPT, "uncrowd"});
    }
  }
  void SetUp() override {
    if (!InLab()) {
      GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
    }
    ASSERT_TRUE(built_) << "lab.sh crowd failed";
  }

  static bool built_;
};
bool CrowdInLab::built_ = false;

TEST_F(CrowdInLab, EveryLiveHostReadsAliveWithItsMacAndName) {
  const auto crowd = CrowdHosts();
  ASSERT_EQ(std::to_string(crowd.size()), kCrowdSize);
  for (const char* rate : {"2500", "20000"}) {
    ASSERT_EQ(RunProcess({"/bin/ip", "-4", "neigh", "flush", "dev", "br0"}).exitStatus, 0);
    const auto run = RunController({"-q", "--json", "--rate", rate, kCrowd});
    ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
    auto rows = JsonByAddress(run.standardOutput);
    for (const auto& [address, host] : crowd) {
      const auto& row = rows[address];
      EXPECT_EQ(row.value("state", ""), "alive") << address << " at --rate " << rate;
      EXPECT_EQ(row.value("mac", ""), host.mac) << address;
      EXPECT_EQ(row["name"].is_string() ? row["name"].get<std::string>() : "", host.name)
          << address;
    }
  }
}

// A machine that also runs containers: another namespace holds the kernel's
// whole neighbour table, so echo requests to the crowd are dropped unsent. A
// crowd host reads alive, or unchecked with a warning that counts it; the
// addresses nobody holds still read dead (the ARP pass needs no entry).
TEST_F(CrowdInLab, LiveHostsReadUncheckedNotSilentWhileOthersHoldTheTable) {
  const auto crowd = CrowdHosts();
  ASSERT_EQ(RunProcess({"/bin/ip", "-4", "neigh", "flush", "dev", "br0"}).exitStatus, 0);
  ASSERT_EQ(RunProcess({HOSTSWEEP_LAB_SCRIPT, "fill", "1024"}).exitStatus, 0);
  const auto run = RunController({"-q", "--json", "10.213.4.1-200", "10.213.9.1-20"});
  ASSERT_EQ(RunProcess({HOSTSWEEP_LAB_SCRIPT, "unfill"}).exitStatus, 0);
  std::size_t unchecked = 0;
  for (const auto& [address, row] : JsonByAddress(run.standardOutput)) {
    const std::string state = row.value("state", "");
    EXPECT_TRUE(crowd.contains(address) ? state == "alive" || state == "unchecked"
                                        : state == "dead")
        << address << " read " << state;
    unchecked += state == "unchecked" ? 1 : 0;
  }
  ASSERT_GT(unchecked, 0U) << "the table had room: " << run.standardError;
  EXPECT_NE(run.standardError.find("warning: " + std::to_string(unchecked) +
                                   " addresses answered ARP but were not checked"),
            std::string::npos)
      << run.standardError;
}

}  // namespace
}  // namespace hostsweep::testing
