// A whole /20 of the lab with the controller's default settings, run inside
// this process so that its descriptors can be counted before and after.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "controller/batches.h"
#include "controller/options.h"
#include "controller/platform_host.h"
#include "controller/sweep.h"
#include "controller/targets.h"
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
    const auto host = controller::MakeWorkerHost(WorkerPath());
    const std::size_t descriptorsOfIdleHost = OpenDescriptors();
    const controller::SweepSettings defaults{
        .jobs = controller::kDefaultJobs,
        .batchSize = controller::ChooseBatchSize(addresses.size(), controller::kDefaultJobs)};
    std::ostringstream diagnostics;
    controller::Sweep sweep(addresses, defaults, *host, diagnostics);
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

}  // namespace
}  // namespace hostsweep::testing
