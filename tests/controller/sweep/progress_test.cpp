#include "controller/sweep/progress.h"

#include <gtest/gtest.h>

namespace hostsweep::controller {
namespace {

using std::chrono::seconds;

TEST(ProgressText, EstimatesTheTimeLeftFromThePaceSoFar) {
  EXPECT_EQ(ProgressText(50, 200, 5, seconds(10)),
            "50/200 done, 5 found, 0:10 elapsed, about 0:30 left");
  EXPECT_EQ(ProgressText(1, 254, 0, seconds(65)),
            "1/254 done, 0 found, 1:05 elapsed, about 274:05 left");
}

TEST(ProgressText, NoEstimateBeforeTheFirstResultOrAfterTheLast) {
  EXPECT_EQ(ProgressText(0, 254, 0, seconds(3)), "0/254 done, 0 found, 0:03 elapsed");
  EXPECT_EQ(ProgressText(254, 254, 57, seconds(11)), "254/254 done, 57 found, 0:11 elapsed");
}

}  // namespace
}  // namespace hostsweep::controller
