#include "driver/report_channel.h"

#include <gtest/gtest.h>

#include "common/failure.h"
#include "tests/case_name.h"
#include "tests/worker/fake_fixture.h"

namespace hostsweep {
namespace {

using ReportChannelTest = FakePlatformTest;

std::vector<unsigned char> BytesOf(const std::string& text) {
  std::vector<unsigned char> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

TEST_F(ReportChannelTest, PacketCarriesTagLengthAndZeroTerminatedText) {
  SendReport("525", "PC5,Dead");
  ASSERT_EQ(os().reports.size(), 1U);
  const auto& report = os().reports[0];
  EXPECT_EQ(report.window, 525);
  EXPECT_EQ(report.message, 0x4AU);
  EXPECT_EQ(report.dwData, 3U);
  EXPECT_EQ(report.cbData, 9U);
  EXPECT_EQ(report.bytes, BytesOf("PC5,Dead"));
}

TEST_F(ReportChannelTest, EmptyTextIsASingleZeroByte) {
  SendReport("525", "");
  EXPECT_EQ(os().reports.at(0).cbData, 1U);
  EXPECT_EQ(os().reports.at(0).bytes, std::vector<unsigned char>{0});
}

TEST_F(ReportChannelTest, ShorterSecondReportIsStillTerminated) {
  SendReport("525", "PC1,12,64,longname,00-11-22-33-44-55");
  SendReport("525", "B,Dead");
  EXPECT_EQ(os().reports.at(1).bytes, BytesOf("B,Dead"));
}

TEST_F(ReportChannelTest, NegativeHandlesPassThrough) {
  SendReport("-5", "x");
  EXPECT_EQ(os().reports.at(0).window, -5);
}

TEST_F(ReportChannelTest, LongestTextFillsTheWholeBuffer) {
  SendReport("1", std::string(254, 'x'));
  EXPECT_EQ(os().reports.at(0).cbData, 255U);
  EXPECT_EQ(os().reports.at(0).bytes, BytesOf(std::string(254, 'x')));
}

class TooLongReportTest : public FakePlatformTest,
                          public ::testing::WithParamInterface<std::size_t> {};

// 255 characters would leave no room for the zero byte, so it fails like 256.
TEST_P(TooLongReportTest, FailsBeforeAnythingIsSent) {
  EXPECT_THROW(SendReport("1", std::string(GetParam(), 'x')), Failure);
  EXPECT_TRUE(os().calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Lengths, TooLongReportTest, ::testing::Values(255U, 256U, 4000U),
                         testing::kNumberedName);

TEST_F(ReportChannelTest, NonNumericWindowFailsWithoutSending) {
  EXPECT_THROW(SendReport("window", "A,Dead"), Failure);
  EXPECT_TRUE(os().reports.empty());
}

}  // namespace
}  // namespace hostsweep
