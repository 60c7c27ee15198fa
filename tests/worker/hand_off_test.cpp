#include "driver/hand_off.h"

#include <gtest/gtest.h>

#include <ostream>

#include "tests/case_name.h"
#include "tests/worker/fake_fixture.h"

namespace hostsweep {
namespace {

struct SuccessorCase {
  const char* request;
  int slot;
  const char* successor;
};

void PrintTo(const SuccessorCase& c, std::ostream* os) { *os << c.request << " slot " << c.slot; }

class SuccessorRequestLineTest : public ::testing::TestWithParam<SuccessorCase> {};

TEST_P(SuccessorRequestLineTest, MovesTheRemainingSlotsUp) {
  EXPECT_EQ(SuccessorRequestLine(SplitRequestLine(GetParam().request), GetParam().slot),
            GetParam().successor);
}

INSTANTIATE_TEST_SUITE_P(
    Batches, SuccessorRequestLineTest,
    ::testing::Values(
        SuccessorCase{"525,10.0.0.1,A,10.0.0.2,B,10.0.0.3,C,5", 1,
                      "525,10.0.0.2,B,10.0.0.3,C,,,A(7)"},
        SuccessorCase{"525,10.0.0.1,A,10.0.0.2,B,10.0.0.3,C,5", 2, "525,10.0.0.3,C,,,,,A(7)"},
        SuccessorCase{"525,10.0.0.1,A,10.0.0.2,B,,,5", 1, "525,10.0.0.2,B,,,,,A(7)"},
        SuccessorCase{" 525 ,a,b,c,d,e,f,9,extra", 1, " 525 ,c,d,e,f,,,A(7)"},
        // A successor's own hand-off: the first worker's third slot alone.
        SuccessorCase{"525,10.0.0.2,B,10.0.0.3,C,,,A(7)", 1, "525,10.0.0.3,C,,,,,A(7)"}),
    testing::kNumberedName);

using HandOffTest = FakePlatformTest;

TEST_F(HandOffTest, StartsTheOwnProgramWithTheSuccessorLine) {
  os().programFolder = "D:\\Scan Tools";
  HandOffRemaining(SplitRequestLine("525,10.0.0.1,A,10.0.0.2,B,,,0"), 1);
  ASSERT_EQ(os().starts.size(), 1U);
  EXPECT_EQ(os().starts[0].folder, "D:\\Scan Tools");
  EXPECT_EQ(os().starts[0].name, "hostsweep-worker");
  EXPECT_EQ(os().starts[0].arguments, "525,10.0.0.2,B,,,,,A(7)");
}

}  // namespace
}  // namespace hostsweep
