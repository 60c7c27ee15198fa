// What the worker writes, the controller reads back: request lines through
// the worker's own split, report texts through the controller's parse.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/report.h"
#include "common/request_line.h"

namespace hostsweep {
namespace {

struct RequestCase {
  std::vector<SlotRequest> slots;
  std::string pause;
};

TEST(RequestLineRoundTrip, EverySlotAndThePauseComeBackInTheirFields) {
  const std::vector<RequestCase> cases{
      {{{"10.0.0.1", "h0"}, {"10.0.0.2", "h1"}, {"10.0.0.3", "h2"}}, "2"},
      {{{"10.0.0.4", "h3"}}, "0"},
      {{{"10.0.0.2", "B"}, {"10.0.0.3", "C"}}, std::string(kSuccessorPause)},
      {{}, ""},
  };
  for (const auto& test : cases) {
    const auto fields = SplitRequestLine(FormatRequestLine("-7", test.slots, test.pause));
    ASSERT_EQ(fields.size(), 8U);
    EXPECT_EQ(fields[kReplyWindow], "-7");
    for (std::size_t slot = 0; slot < kRequestSlots; ++slot) {
      const SlotRequest sent = slot < test.slots.size() ? test.slots[slot] : SlotRequest{};
      EXPECT_EQ(fields[kAddress1 + 2 * slot], sent.address);
      EXPECT_EQ(fields[kLabel1 + 2 * slot], sent.label);
    }
    EXPECT_EQ(fields[kPauseCount], test.pause);
  }
  const auto name = SplitRequestLine(FormatNameRequest("525", "10.0.0.7"));
  EXPECT_TRUE(IsNumberZero(Field(name, kAddress1)));
  EXPECT_EQ(Field(name, kLabel1), "10.0.0.7");
}

struct LiveCase {
  std::string roundTrip;
  int ttl;
  std::string name;
  std::string mac;
};

TEST(ReportTextRoundTrip, LiveAndDeadReportsParseBackToWhatWasSent) {
  const std::vector<LiveCase> cases{
      {"12", 128, "pc5", "00-1A-2B-3C-4D-5E"},
      {"0", 255, "", ""},
      {"3", 64, "a,b,,c", "00-00-00-00-00-01"},
      {"1", 1, ",", ""},
  };
  for (const auto& test : cases) {
    // The parsed items view the text.
    const std::string text = FormatLiveReport("h9", test.roundTrip, test.ttl, test.name, test.mac);
    const auto report = ParseProbeReport(text);
    ASSERT_TRUE(report.has_value()) << test.name;
    EXPECT_FALSE(report->dead);
    EXPECT_EQ(report->label, "h9");
    EXPECT_EQ(report->roundTripMs, test.roundTrip);
    EXPECT_EQ(report->ttl, std::to_string(test.ttl));
    EXPECT_EQ(report->name, test.name);
    EXPECT_EQ(report->mac, test.mac);
  }
  const std::string deadText = FormatDeadReport("h9");
  const auto dead = ParseProbeReport(deadText);
  ASSERT_TRUE(dead.has_value());
  EXPECT_TRUE(dead->dead);
  EXPECT_EQ(dead->label, "h9");
  for (const char* text : {"h9", "h9,dead", "h9,1,2,3", "", "h9,Dead,"}) {
    EXPECT_FALSE(ParseProbeReport(text).has_value()) << text;
  }
}

TEST(ReportText, EndsAtTheFirstZeroByte) {
  const std::vector<std::pair<std::vector<unsigned char>, std::string>> cases{
      {{'a', ',', 'b', 0}, "a,b"},
      {{0}, ""},
      {{'x', 0, 'y', 0}, "x"},
      {{'n', 'o'}, "no"},
      {{}, ""}};
  for (const auto& [payload, text] : cases) {
    EXPECT_EQ(ReportText(payload), text);
  }
}

}  // namespace
}  // namespace hostsweep
