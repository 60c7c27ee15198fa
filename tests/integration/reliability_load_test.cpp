// A whole /20 of the lab with the controller's default settings, run inside
// this process so that its descriptors can be counted before and after; and
// the cost of name questions to many hosts that answer with crafted datagrams.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <deque>
#include <set>
#include <sstream>
#include <thread>

#include "controller/app/options.h"
#include "controller/sweep/batches.h"
#include "controller/sweep/sweep.h"
#include "controller/system/limits.h"
#include "controller/system/neighbour_table.h"
#include "controller/system/worker_host.h"
#include "controller/targets/targets.h"
#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"
#include "tests/integration/reliability_support.h"

namespace hostsweep::testing {
namespace {

using controller::State;

// The lab's live addresses (tests/lab/lab.sh): the scanner, alpha to foxtrot
// (mute drops echo requests), golf to kilo (kilo has two addresses), the crowd,
// the router, late and twin.
std::set<std::string> LiveLabAddresses() {
  std::set<std::string> live{"10.213.0.1", "10.213.0.254", "10.213.2.40", "10.213.2.41"};
  for (int last = 10; last <= 14; ++last) {
    live.insert("10.213.0." + std::to_string(last));
  }
  for (int last = 30; last <= 35; ++last) {
    live.insert("10.213.0." + std::to_string(last));
  }
  for (int last = 100; last <= 149; ++last) {
    live.insert("10.213.0." + std::to_string(last));
  }
  return live;
}

TEST(ReliabilityLoad, SlashTwentyGivesEachAddressOneResultAndLeavesNothingOpenOrRunning) {
  if (!InLab()) {
    GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
  }
  const auto addresses = controller::ExpandTargets({"10.213.0.0/20"});
  ASSERT_EQ(addresses.size(), 4094U);
  const std::size_t descriptorsAtStart = OpenDescriptors();
  {
    controller::EventLoop loop;
    const auto host = controller::MakeWorkerHost(loop, WorkerPath(), /*sendsEchoes=*/true);
    const std::size_t descriptorsOfIdleHost = OpenDescriptors();
    // Paced by the neighbour table as the program is: a /20 fills it, and an
    // entry still waiting for late's answer is the first the kernel drops.
    const controller::SweepSettings defaults{
        .jobs = controller::kDefaultJobs,
        .batchSize = controller::ChooseBatchSize(addresses.size(), controller::kDefaultJobs),
        .neighbourTable = controller::NeighbourTableSize(),
        .mostChains = controller::MostChainsAtOnce(),
        .tableLoad = controller::ReadNeighbourTableLoad};
    std::ostringstream diagnostics;
    controller::Sweep sweep(addresses, defaults, loop, *host, diagnostics);
    ASSERT_TRUE(sweep.Run([](const controller::ResultBook&) { return true; }));

    EXPECT_EQ(sweep.Counts().duplicateReports, 0U);
    EXPECT_EQ(sweep.Counts().unknownReports, 0U);
    EXPECT_EQ(sweep.Counts().overdueBatches, 0U);
    EXPECT_EQ(diagnostics.str(), "");
    const auto& results = sweep.Book().Results();
    ASSERT_EQ(results.size(), addresses.size());
    EXPECT_EQ(sweep.Book().Done(), addresses.size());
    const auto live = LiveLabAddresses();
    for (std::size_t i = 0; i < results.size(); ++i) {
      const auto address = controller::FormatAddress(results[i].address);
      EXPECT_EQ(results[i].address, addresses[i]);
      EXPECT_EQ(controller::StateOf(results[i]),
                live.contains(address) ? State::kAlive : State::kDead)
          << address << " is " << controller::StateText(controller::StateOf(results[i]));
    }
    EXPECT_EQ(sweep.Book().Found(), live.size());
    // Every worker's pipe and connection is closed once its chain has ended.
    EXPECT_EQ(OpenDescriptors(), descriptorsOfIdleHost);
  }
  EXPECT_EQ(OpenDescriptors(), descriptorsAtStart);
  EXPECT_TRUE(ProcessesRunning(WorkerPath()).empty()) << "a worker outlived the sweep";
}

constexpr int kExitFound = 0;
constexpr int kExitInterrupted = 130;
// The crowd's first 31 addresses, each with an mDNS responder that answers
// every question with datagrams built to be dear to parse.
constexpr const char* kCraftedHosts = "10.213.0.100-130";
constexpr int kCraftedHostCount = 31;

class CraftedMdnsInLab : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!InLab()) {
      GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
    }
    const char* prefix = std::getenv("HOSTSWEEP_LAB_PREFIX");
    const std::string crowd = std::string(prefix != nullptr ? prefix : "hs") + "-crowd";
    for (int last = 100; last < 100 + kCraftedHostCount; ++last) {
      responders_.emplace_back(std::vector<std::string>{
          "/usr/bin/env", "ip", "netns", "exec", crowd, HOSTSWEEP_MDNS_RESPONDER_PATH, "--address",
          "10.213.0." + std::to_string(last), "--name", "never.local", "--reply", "crafted"});
      ASSERT_TRUE(responders_.back().AwaitOutput("ready", milliseconds(5000)));
    }
  }
  [[nodiscard]] std::vector<std::string> Sweep(std::vector<std::string> options) const {
    options.insert(options.end(), {"-q", "--csv", "-j", GetParam(), kCraftedHosts});
    return options;
  }
  // Waits until some responder has been asked; false after 10 s.
  bool AwaitQuestion() { return responders_.front().AwaitOutput("asked", milliseconds(10000)); }

 private:
  std::deque<ChildProcess> responders_;
};

TEST_P(CraftedMdnsInLab, NeitherStallsTheSweepNorHoldsUpAnInterruption) {
  // Interrupted while it reads the crafted answers.
  ChildProcess interrupted(ControllerCommand(Sweep({})));
  ASSERT_TRUE(AwaitQuestion());
  std::this_thread::sleep_for(milliseconds(100));
  const auto signalled = std::chrono::steady_clock::now();
  kill(interrupted.pid(), SIGINT);
  ASSERT_TRUE(interrupted.AwaitEnd(milliseconds(10000)));
  const auto reaction = std::chrono::steady_clock::now() - signalled;
  EXPECT_EQ(interrupted.Finish().exitStatus, kExitInterrupted);
  // Stall guards, not speed targets (bench/extra_names measures those): a
  // parse that made each crafted datagram dear would take many seconds here.
  EXPECT_LE(reaction, milliseconds(2000));

  const auto without = RunController(Sweep({"--no-extra-names"}));
  const auto with = RunController(Sweep({}));
  for (const auto* run : {&without, &with}) {
    EXPECT_EQ(run->exitStatus, kExitFound) << run->standardError;
    const auto records = ReadCsv(run->standardOutput);
    ASSERT_EQ(records.size(), std::size_t{kCraftedHostCount} + 1);
    for (std::size_t i = 1; i < records.size(); ++i) {
      EXPECT_EQ(records[i][1], "alive") << records[i][0];
      EXPECT_EQ(records[i][4], "") << records[i][0];
    }
  }
  EXPECT_LE(with.elapsed, without.elapsed + milliseconds(5000))
      << "without name questions " << without.elapsed.count() << " ms";
}

// -j 1: the name questions have sockets of their own, not -j's.
INSTANTIATE_TEST_SUITE_P(Jobs, CraftedMdnsInLab, ::testing::Values("512", "1"),
                         [](const auto& info) { return std::string("Jobs") + info.param; });

}  // namespace
}  // namespace hostsweep::testing
