#include "controller/sweep/batches.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "controller/base/report_label.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

struct Sizing {
  std::size_t addresses;
  std::size_t jobs;
  std::size_t batchSize;
};

void PrintTo(const Sizing& c, std::ostream* os) {
  *os << c.addresses << " addresses, " << c.jobs << " jobs";
}

class BatchSize : public ::testing::TestWithParam<Sizing> {};

TEST_P(BatchSize, GrowsWithTheSweepUpToThree) {
  EXPECT_EQ(ChooseBatchSize(GetParam().addresses, GetParam().jobs), GetParam().batchSize);
}

INSTANTIATE_TEST_SUITE_P(Batches, BatchSize,
                         ::testing::Values(Sizing{1, 64, 1}, Sizing{64, 64, 1}, Sizing{65, 64, 2},
                                           Sizing{128, 64, 2}, Sizing{129, 64, 3},
                                           Sizing{254, 64, 3}, Sizing{65536, 64, 3},
                                           Sizing{10, 1, 3}, Sizing{10, 0, 3}),
                         testing::kNumberedName);

TEST(SplitIntoBatches, CoversEveryPositionOnceInOrder) {
  for (std::size_t size = 1; size <= kMostSlots; ++size) {
    for (std::size_t count : {1U, 2U, 3U, 7U, 254U}) {
      std::size_t next = 0;
      for (const Batch& batch : SplitIntoBatches(count, size)) {
        EXPECT_EQ(batch.first, next);
        EXPECT_GE(batch.count, 1U);
        EXPECT_LE(batch.count, size);
        next += batch.count;
      }
      EXPECT_EQ(next, count) << "count " << count << " size " << size;
    }
  }
}

TEST(Labels, RoundTripAndHoldNoComma) {
  for (std::size_t position : {0U, 1U, 9U, 10U, 65535U}) {
    const std::string label = LabelOf(position);
    EXPECT_EQ(label.find(','), std::string::npos);
    EXPECT_EQ(PositionOfLabel(label), position);
  }
}

TEST(Labels, ForeignLabelsMatchNoPosition) {
  for (const char* label :
       {"", "h", "7", "H7", "h07", "h+7", "h-7", "h7x", " h7", "PC5", "h99999999999999999999999"}) {
    EXPECT_EQ(PositionOfLabel(label), std::nullopt) << label;
  }
}

TEST(RequestLines, HaveEightFieldsWithUnusedSlotsEmpty) {
  const std::vector<Address> addresses{0x0A000001, 0x0A000002, 0x0A000003, 0x0A000004};
  EXPECT_EQ(ProbeRequestLine(525, addresses, {0, 3}, "2"),
            "525,10.0.0.1,h0,10.0.0.2,h1,10.0.0.3,h2,2");
  EXPECT_EQ(ProbeRequestLine(525, addresses, {3, 1}, "0"), "525,10.0.0.4,h3,,,,,0");
  EXPECT_EQ(ProbeRequestLine(-7, addresses, {2, 2}, "0"), "-7,10.0.0.3,h2,10.0.0.4,h3,,,0");
  EXPECT_EQ(NameRequestLine(525, 0x0A000007), "525,0,10.0.0.7");
}

}  // namespace
}  // namespace hostsweep::controller
