#include "controller/sweep/progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <sstream>

#include "controller/base/report_label.h"

namespace hostsweep::controller {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Early results come in bursts: one second into a short sweep, their pace
// would promise many times the sweep's length.
TEST(ProgressText, EstimatesOnlyOnceEnoughOfTheSweepIsDone) {
  EXPECT_EQ(ProgressText(50, 200, 5, seconds(10)),
            "50/200 done, 5 found, 0:10 elapsed, about 0:30 left");
  EXPECT_EQ(ProgressText(20, 254, 2, seconds(1)), "20/254 done, 2 found, 0:01 elapsed");
  EXPECT_EQ(ProgressText(1, 254, 0, seconds(65)), "1/254 done, 0 found, 1:05 elapsed");
  EXPECT_EQ(ProgressText(0, 254, 0, seconds(3)), "0/254 done, 0 found, 0:03 elapsed");
  EXPECT_EQ(ProgressText(254, 254, 57, seconds(11)), "254/254 done, 57 found, 0:11 elapsed");
}

struct Rounds {
  const char* name;
  milliseconds apart;
  bool countRises;         // each round finishes one more address
  bool rowsEachRound;      // each round writes rows, taking the line down first
  std::ptrdiff_t redraws;  // over a thousand rounds
};

class ProgressRedraws : public ::testing::TestWithParam<Rounds> {};

// A sweep's rounds come hundreds of times a second; a redraw is only worth
// its flicker when the text changed, and ten a second read as live.
TEST_P(ProgressRedraws, AreAtMostTenASecondAndOnlyForANewText) {
  ProgressLine::Clock::time_point now;
  std::ostringstream terminal;
  ProgressLine line(terminal, [&now] { return now; });
  constexpr std::size_t kRounds = 1000;
  for (std::size_t round = 0; round < kRounds; ++round, now += GetParam().apart) {
    if (GetParam().rowsEachRound) {
      line.Clear();
    }
    line.Update(GetParam().countRises ? round : 0, kRounds, 0);
  }
  // Each drawn text holds two commas ("1/1000 done, 0 found, ...").
  const std::string drawn = terminal.str();
  EXPECT_EQ(std::count(drawn.begin(), drawn.end(), ','), 2 * GetParam().redraws);
}

INSTANTIATE_TEST_SUITE_P(
    Progress, ProgressRedraws,
    ::testing::Values(Rounds{"CountRisingEveryMillisecond", milliseconds(1), true, false, 10},
                      Rounds{"SameCountFor5Seconds", milliseconds(5), false, false, 5},
                      Rounds{"RowsWrittenEveryMillisecond", milliseconds(1), true, true, 10},
                      Rounds{"RowsWrittenEvery200Milliseconds", milliseconds(200), false, true,
                             1000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SweepSummary, CountsEveryStateOfTheSweepAndItsTime) {
  ResultBook probed(std::vector<Address>{1, 2, 3, 4, 5});
  probed.FileProbeReport(LabelOf(0) + ",1,64,pc,");
  probed.FileProbeReport(LabelOf(1) + ",Dead");
  probed.FileLink(1, {.heardDuringSweep = true});
  probed.FileProbeReport(LabelOf(2) + ",Dead");
  probed.FileProbeReport(LabelOf(3) + ",Dead");
  probed.MarkUnreported(4, 1);
  EXPECT_EQ(SweepSummary(probed, false, milliseconds(1949)),
            "hostsweep: 5 addresses swept: 1 alive, 1 silent, 2 dead, 1 no report in 1.9 s");
  ResultBook named(std::vector<Address>{1});
  named.FileName(0, "pc.lab");
  EXPECT_EQ(SweepSummary(named, true, milliseconds(65'050)),
            "hostsweep: 1 address looked up: 1 named, 0 unnamed in 65.1 s");
}

}  // namespace
}  // namespace hostsweep::controller
