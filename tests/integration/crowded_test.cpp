// A crowded network in the lab: 1200 live hosts on the lab's on-link network,
// each with its own MAC, half of them named: more than the machine's
// neighbour table (1024 entries by default) holds while they count as
// reachable. Every one must still read alive, with its MAC and name, at the
// default rate and at a high one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
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
    std::map<std::string, nlohmann::json> rows;
    std::istringstream lines(run.standardOutput);
    for (std::string line; std::getline(lines, line);) {
      const auto row = nlohmann::json::parse(line);
      rows[row.at("address")] = row;
    }
    for (const auto& [address, host] : crowd) {
      const auto& row = rows[address];
      EXPECT_EQ(row.value("state", ""), "alive") << address << " at --rate " << rate;
      EXPECT_EQ(row.value("mac", ""), host.mac) << address;
      EXPECT_EQ(row["name"].is_string() ? row["name"].get<std::string>() : "", host.name)
          << address;
    }
  }
}

}  // namespace
}  // namespace hostsweep::testing
