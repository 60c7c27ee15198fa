#include "common/request_line.h"

#include <gtest/gtest.h>

#include <ostream>

#include "common/failure.h"
#include "tests/case_name.h"

namespace hostsweep {
namespace {

TEST(SplitRequestLine, KeepsEmptyAndUntrimmedFields) {
  EXPECT_EQ(SplitRequestLine("525,10.0.0.1,A,,,,,0"),
            (Fields{"525", "10.0.0.1", "A", "", "", "", "", "0"}));
  EXPECT_EQ(SplitRequestLine(" 1 , x "), (Fields{" 1 ", " x "}));
  EXPECT_EQ(SplitRequestLine(""), (Fields{""}));
  EXPECT_EQ(SplitRequestLine(",,"), (Fields{"", "", ""}));
  EXPECT_EQ(SplitRequestLine("a,b,c,d,e,f,g,h,i,j").size(), 10U);
}

TEST(Field, MissingFieldNamesItInTheFailure) {
  const Fields seven = SplitRequestLine("525,1,2,3,4,5,6");
  EXPECT_EQ(Field(seven, kLabel3), "6");
  try {
    Field(seven, kPauseCount);
    FAIL() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_NE(std::string(failure.what()).find("7 comma-separated fields"), std::string::npos);
    EXPECT_NE(std::string(failure.what()).find("pause count"), std::string::npos);
  }
}

struct NumberCase {
  const char* text;
  double value;
};

void PrintTo(const NumberCase& c, std::ostream* os) { *os << "\"" << c.text << "\""; }

class LeadingNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(LeadingNumberTest, ReadsTheNumberTheTextStartsWith) {
  EXPECT_DOUBLE_EQ(LeadingNumber(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    PauseCounts, LeadingNumberTest,
    ::testing::Values(NumberCase{"0", 0}, NumberCase{"3", 3}, NumberCase{"2.5", 2.5},
                      NumberCase{"A(7)", 0}, NumberCase{"", 0}, NumberCase{"-4", -4},
                      NumberCase{" 1 2 ", 12}, NumberCase{"\t7\n", 7}, NumberCase{"5abc", 5},
                      NumberCase{"1e2", 100}, NumberCase{"1e", 1}, NumberCase{".5", 0.5},
                      NumberCase{"+3", 3}, NumberCase{"-", 0}, NumberCase{"1,5", 1}),
    testing::kNumberedName);

struct ZeroCase {
  const char* text;
  bool zero;
};

void PrintTo(const ZeroCase& c, std::ostream* os) { *os << "\"" << c.text << "\""; }

class IsNumberZeroTest : public ::testing::TestWithParam<ZeroCase> {};

TEST_P(IsNumberZeroTest, OnlyAWholeNumberEqualToZeroSelectsNames) {
  EXPECT_EQ(IsNumberZero(GetParam().text), GetParam().zero) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(ModeTest, IsNumberZeroTest,
                         ::testing::Values(ZeroCase{"0", true}, ZeroCase{" 0 ", true},
                                           ZeroCase{"00", true}, ZeroCase{"0.0", true},
                                           ZeroCase{"-0", true}, ZeroCase{"0e5", true},
                                           ZeroCase{"0.0.0.0", false}, ZeroCase{"10.0.0.1", false},
                                           ZeroCase{"", false}, ZeroCase{"zero", false},
                                           ZeroCase{"0x", false}, ZeroCase{"1", false},
                                           ZeroCase{"host0", false}),
                         testing::kNumberedName);

TEST(ReplyWindowHandle, AcceptsSigned32BitDecimals) {
  EXPECT_EQ(ReplyWindowHandle("525"), 525);
  EXPECT_EQ(ReplyWindowHandle(" 525 "), 525);
  EXPECT_EQ(ReplyWindowHandle("+7"), 7);
  EXPECT_EQ(ReplyWindowHandle("-2147483648"), INT32_MIN);
  EXPECT_EQ(ReplyWindowHandle("2147483647"), INT32_MAX);
}

class BadReplyWindowTest : public ::testing::TestWithParam<const char*> {};

TEST_P(BadReplyWindowTest, RaisesAFailureThatQuotesTheField) {
  try {
    ReplyWindowHandle(GetParam());
    FAIL() << "accepted " << GetParam();
  } catch (const Failure& failure) {
    EXPECT_NE(std::string(failure.what()).find(std::string("\"") + GetParam() + "\""),
              std::string::npos)
        << failure.what();
  }
}

INSTANTIATE_TEST_SUITE_P(NotAHandle, BadReplyWindowTest,
                         ::testing::Values("", "abc", "12a", "1.5", "2147483648", "-2147483649",
                                           "99999999999999999999", "- 1", "++1"),
                         testing::kNumberedName);

}  // namespace
}  // namespace hostsweep
