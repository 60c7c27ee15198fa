#include "driver/run_worker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>

#include "tests/case_name.h"
#include "tests/worker/fake_fixture.h"

namespace hostsweep {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class RunWorkerTest : public FakePlatformTest {
 protected:
  // Runs the worker on `request`; the exit status if it ended the process itself.
  static std::optional<int> Run(const std::string& request) {
    os().argumentText = request;
    try {
      RunWorker();
    } catch (const fake::ProcessEnded& ended) {
      return ended.status;
    }
    return std::nullopt;
  }

  static std::vector<std::string> ReportTexts() {
    std::vector<std::string> texts;
    for (const auto& report : os().reports) {
      texts.push_back(report.Text());
    }
    return texts;
  }

  // The calls with probe internals, lookups and yields folded to one word each.
  static std::vector<std::string> Outline() {
    std::vector<std::string> outline;
    for (const auto& call : os().calls) {
      if (call == "IcmpSendEcho") {
        outline.emplace_back("probe");
      } else if (call == "YieldToSystem") {
        outline.emplace_back("yield");
      } else if (call == "SendMessageA") {
        outline.emplace_back("report");
      } else if (call == "StartHiddenProcess") {
        outline.emplace_back("start");
      } else if (call == "gethostbyaddr") {
        outline.emplace_back("name");
      } else if (call == "HeapAlloc") {
        outline.emplace_back("adapter");
      }
    }
    return outline;
  }
};

TEST_F(RunWorkerTest, StartsWithTwelveYieldsThenOnePausePerSlot) {
  Run("525,10.0.0.5,PC5,,,,,0");
  const auto outline = Outline();
  ASSERT_GE(outline.size(), 13U);
  EXPECT_EQ(std::vector<std::string>(outline.begin(), outline.begin() + 13),
            std::vector<std::string>(13, "yield"));
  EXPECT_EQ(std::vector<std::string>(outline.begin() + 13, outline.end()),
            (std::vector<std::string>{"probe", "probe", "report", "yield"}));
  EXPECT_EQ(os().calls.front(), "GetArgumentText");
  EXPECT_EQ(os().calls.at(1), "YieldToSystem");
}

TEST_F(RunWorkerTest, OneDeadSlot) {
  EXPECT_EQ(Run("525,10.0.0.5,PC5,,,,,0"), std::nullopt);
  EXPECT_THAT(ReportTexts(), ElementsAre("PC5,Dead"));
  EXPECT_EQ(os().echoRequests.size(), 2U);
}

struct PauseCase {
  const char* field;
  std::size_t yields;
};

void PrintTo(const PauseCase& c, std::ostream* os) { *os << "\"" << c.field << "\""; }

class PauseCountTest : public RunWorkerTest, public ::testing::WithParamInterface<PauseCase> {};

TEST_P(PauseCountTest, PauseBeforeFirstProbeAndAfterReport) {
  Run(std::string("525,10.0.0.5,PC5,,,,,") + GetParam().field);
  // 12 start-up yields, then a pause, two probes, the report, a pause.
  const std::size_t n = GetParam().yields;
  std::vector<std::string> expected(12 + n, "yield");
  expected.insert(expected.end(), {"probe", "probe", "report"});
  expected.insert(expected.end(), n, "yield");
  EXPECT_EQ(Outline(), expected);
}

INSTANTIATE_TEST_SUITE_P(Counts, PauseCountTest,
                         ::testing::Values(PauseCase{"0", 1}, PauseCase{"3", 4},
                                           PauseCase{"2.5", 3}, PauseCase{"A(7)", 1},
                                           PauseCase{"-1", 0}, PauseCase{" 1 ", 2},
                                           PauseCase{"", 1}),
                         testing::kNumberedName);

TEST_F(RunWorkerTest, AbsurdPauseCountStillEnds) {
  Run("525,10.0.0.5,PC5,,,,,1e300");
  EXPECT_THAT(ReportTexts(), ElementsAre("PC5,Dead"));
  EXPECT_EQ(os().Count("YieldToSystem"), 12U + 2 * 1'000'001U);
}

TEST_F(RunWorkerTest, SecondProbeAnswersAndItsFiguresAreReported) {
  os().echoAnswers["10.0.0.5"] = {fake::TimedOut(), fake::Reply(12, 128)};
  Run("525,10.0.0.5,PC5,,,,,0");
  EXPECT_THAT(ReportTexts(), ElementsAre("PC5,12,128,,"));
}

TEST_F(RunWorkerTest, LiveNamedHostGetsNameAndAdapterAddress) {
  os().echoAnswers["10.0.0.5"] = {fake::Reply(12, 128)};
  os().hostNames["10.0.0.5"] = "pc5";
  os().netbios = [](os::NCB& control) -> os::UCHAR {
    if (control.ncb_command == os::NCBASTAT) {
      const unsigned char mac[] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
      std::copy(std::begin(mac), std::end(mac), control.ncb_buffer);
    }
    return 0;
  };
  Run("525,10.0.0.5,PC5,,,,,0");
  EXPECT_THAT(ReportTexts(), ElementsAre("PC5,12,128,pc5,00-1A-2B-3C-4D-5E"));
}

TEST_F(RunWorkerTest, UnnamedHostSkipsTheAdapterQuery) {
  os().echoAnswers["10.0.0.5"] = {fake::Reply(12, 128)};
  Run("525,10.0.0.5,PC5,,,,,0");
  EXPECT_THAT(ReportTexts(), ElementsAre("PC5,12,128,,"));
  EXPECT_EQ(os().Count("Netbios"), 0U);
}

TEST_F(RunWorkerTest, DeadHostsAreReportedInOrderUntilTheBatchEnds) {
  Run("525,10.0.0.1,A,10.0.0.2,B,10.0.0.3,C,0");
  EXPECT_THAT(ReportTexts(), ElementsAre("A,Dead", "B,Dead", "C,Dead"));
  // No pause after the last slot, and none between a pause and the next probe.
  EXPECT_EQ(Outline().back(), "report");
  EXPECT_TRUE(os().starts.empty());
}

TEST_F(RunWorkerTest, LiveFirstSlotHandsOffBeforeLookupsAndStops) {
  os().echoAnswers["10.0.0.1"] = {fake::Reply(5, 64)};
  os().hostNames["10.0.0.1"] = "a";
  Run("525,10.0.0.1,A,10.0.0.2,B,10.0.0.3,C,5");
  ASSERT_EQ(os().starts.size(), 1U);
  EXPECT_EQ(os().starts[0].arguments, "525,10.0.0.2,B,10.0.0.3,C,,,A(7)");
  EXPECT_THAT(ReportTexts(), ElementsAre("A,5,64,a,"));
  const auto outline = Outline();
  const std::vector<std::string> tail(outline.begin() + 12 + 6, outline.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"probe", "start", "name", "adapter", "report", "yield",
                                            "yield", "yield", "yield", "yield", "yield"}));
  EXPECT_EQ(os().echoRequests.size(), 1U);
}

TEST_F(RunWorkerTest, DeadThenLiveHandsOffTheThirdSlot) {
  os().echoAnswers["10.0.0.2"] = {fake::Reply(7, 64)};
  Run("525,10.0.0.1,A,10.0.0.2,B,10.0.0.3,C,5");
  ASSERT_EQ(os().starts.size(), 1U);
  EXPECT_EQ(os().starts[0].arguments, "525,10.0.0.3,C,,,,,A(7)");
  EXPECT_THAT(ReportTexts(), ElementsAre("A,Dead", "B,7,64,,"));
}

TEST_F(RunWorkerTest, TwoSlotBatchHandsOffInSlotOneForm) {
  os().echoAnswers["10.0.0.1"] = {fake::Reply(7, 64)};
  Run("525,10.0.0.1,A,10.0.0.2,B,,,5");
  ASSERT_EQ(os().starts.size(), 1U);
  EXPECT_EQ(os().starts[0].arguments, "525,10.0.0.2,B,,,,,A(7)");
}

TEST_F(RunWorkerTest, LiveSecondSlotWithoutThirdStartsNothingAndStops) {
  os().echoAnswers["10.0.0.2"] = {fake::Reply(7, 64)};
  Run("525,10.0.0.1,A,10.0.0.2,B,,,0");
  EXPECT_TRUE(os().starts.empty());
  EXPECT_THAT(ReportTexts(), ElementsAre("A,Dead", "B,7,64,,"));
}

TEST_F(RunWorkerTest, LiveThirdSlotNeverHandsOff) {
  os().echoAnswers["10.0.0.3"] = {fake::Reply(7, 64)};
  Run("525,10.0.0.1,A,10.0.0.2,B,10.0.0.3,C,0");
  EXPECT_TRUE(os().starts.empty());
  EXPECT_THAT(ReportTexts(), ElementsAre("A,Dead", "B,Dead", "C,7,64,,"));
  EXPECT_EQ(Outline().back(), "report");
}

TEST_F(RunWorkerTest, EmptySecondAddressStopsBeforeTheThirdSlot) {
  for (const bool live : {false, true}) {
    fake::Reset();
    if (live) {
      os().echoAnswers["10.0.0.1"] = {fake::Reply(1, 64)};
    }
    Run("525,10.0.0.1,A,,,10.0.0.3,C,0");
    EXPECT_EQ(os().reports.size(), 1U);
    EXPECT_TRUE(os().starts.empty());
    for (const auto& request : os().echoRequests) {
      EXPECT_EQ(request.destination, "10.0.0.1");
    }
  }
}

TEST_F(RunWorkerTest, TtlOfAnEarlierLiveProbeSurvivesLaterFailures) {
  // Slot 1 dead, slot 2 answers only its second probe: the TTL is that probe's.
  os().echoAnswers["10.0.0.2"] = {fake::TimedOut(), fake::Reply(9, 33)};
  Run("525,10.0.0.1,A,10.0.0.2,B,,,0");
  EXPECT_THAT(ReportTexts(), ElementsAre("A,Dead", "B,9,33,,"));
}

TEST_F(RunWorkerTest, SevenFieldsFailBeforeTheFirstProbe) {
  EXPECT_EQ(Run("525,10.0.0.1,A,,,,"), 1);
  EXPECT_TRUE(os().echoRequests.empty());
  EXPECT_TRUE(os().reports.empty());
  ASSERT_EQ(os().failureBoxes.size(), 1U);
  EXPECT_THAT(os().failureBoxes[0], HasSubstr("pause count"));
}

TEST_F(RunWorkerTest, NoFieldsAtAllFailAtTheModeTest) {
  EXPECT_EQ(Run(""), 1);
  EXPECT_THAT(os().failureBoxes.at(0), HasSubstr("address 1"));
}

TEST_F(RunWorkerTest, BadReplyWindowFailsAtTheFirstReport) {
  EXPECT_EQ(Run("window,10.0.0.1,A,10.0.0.2,B,,,0"), 1);
  EXPECT_TRUE(os().reports.empty());
  EXPECT_EQ(os().echoRequests.size(), 2U);
  EXPECT_THAT(os().failureBoxes.at(0), HasSubstr("\"window\""));
}

TEST_F(RunWorkerTest, TooLongLabelFailsAfterEarlierReportsWereSent) {
  const std::string label(251, 'L');
  EXPECT_EQ(Run("525,10.0.0.1,A,10.0.0.2," + label + ",,,0"), 1);
  EXPECT_THAT(ReportTexts(), ElementsAre("A,Dead"));
  EXPECT_EQ(os().failureBoxes.size(), 1U);
}

TEST_F(RunWorkerTest, FailedSuccessorStartStillReportsTheLiveHostThenFails) {
  os().echoAnswers["10.0.0.1"] = {fake::Reply(1, 64)};
  os().hostNames["10.0.0.1"] = "a";
  os().startFails = true;
  EXPECT_EQ(Run("525,10.0.0.1,A,10.0.0.2,B,,,0"), 1);
  EXPECT_THAT(ReportTexts(), ElementsAre("A,1,64,a,"));
  // The successor is still tried before the lookups; the failure is told after the report.
  EXPECT_THAT(Outline(), ::testing::IsSupersetOf({"start", "name", "report"}));
  EXPECT_LT(std::find(os().calls.begin(), os().calls.end(), "StartHiddenProcess"),
            std::find(os().calls.begin(), os().calls.end(), "gethostbyaddr"));
  ASSERT_EQ(os().failureBoxes.size(), 1U);
  EXPECT_THAT(os().failureBoxes[0], HasSubstr("cannot start"));
  EXPECT_EQ(os().echoRequests.size(), 1U);
}

// Request lines no controller writes: the worker ends with a message naming
// what is wrong, or reports as usual; it never crashes or probes a garbled
// address.
struct HostileCase {
  const char* name;
  std::string line;
  const char* failure;  // in the message; empty: no failure, the reports below
  std::vector<std::string> reports;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class HostileRequestTest : public RunWorkerTest,
                           public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileRequestTest, EndsWithAMessageOrReports) {
  const auto& c = GetParam();
  const auto status = Run(c.line);
  EXPECT_THAT(ReportTexts(), ::testing::ElementsAreArray(c.reports));
  if (*c.failure == '\0') {
    EXPECT_EQ(status, std::nullopt);
    EXPECT_TRUE(os().failureBoxes.empty());
  } else {
    EXPECT_EQ(status, 1);
    ASSERT_EQ(os().failureBoxes.size(), 1U);
    EXPECT_THAT(os().failureBoxes[0], HasSubstr(c.failure));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HostileRequestTest,
    ::testing::Values(
        HostileCase{"OnlyCommas", ",,,,,,,", "reply window", {}},
        HostileCase{"HandleBeyond32Bits", "99999999999999,10.0.0.9,A,,,,,0", "reply window", {}},
        HostileCase{
            "HugeAddressField", "525," + std::string(100000, '7') + ",A,,,,,0", "", {"A,Dead"}},
        HostileCase{
            "HugePauseText", "525,10.0.0.9,A,,,,," + std::string(100000, 'x'), "", {"A,Dead"}},
        HostileCase{
            "ThousandsOfFields", "525,10.0.0.9,A,,,,,0" + std::string(20000, ','), "", {"A,Dead"}}),
    [](const auto& info) { return std::string(info.param.name); });

// The probe, the name lookup and the adapter query absorb the failures of the
// calls they make; running out of memory is no such failure and ends the run.
class OutOfMemoryTest : public RunWorkerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(OutOfMemoryTest, ReachesTheFailureHandler) {
  os().echoAnswers["10.0.0.1"] = {fake::Reply(1, 64)};
  os().hostNames["10.0.0.1"] = "one";
  os().exhausted = {GetParam()};
  EXPECT_EQ(Run("525,10.0.0.1,A,,,,,0"), 1);
  EXPECT_TRUE(os().reports.empty());
  EXPECT_EQ(os().failureBoxes.size(), 1U);
}

INSTANTIATE_TEST_SUITE_P(Calls, OutOfMemoryTest,
                         ::testing::Values("IcmpCreateFile", "IcmpSendEcho", "WSAStartup",
                                           "gethostbyaddr", "Netbios", "HeapAlloc"),
                         testing::kNumberedName);

struct LongNameCase {
  bool nameOnly;
  std::size_t nameLength;
  std::size_t shownLength;
};

void PrintTo(const LongNameCase& c, std::ostream* os) {
  *os << (c.nameOnly ? "name-only, " : "live, ") << c.nameLength;
}

class LongNameTest : public RunWorkerTest, public ::testing::WithParamInterface<LongNameCase> {};

// A name too long for the 254 characters of a report is cut to fit, its end
// marked "~"; a name that fits is left whole.
TEST_P(LongNameTest, TheReportFitsWithTheNameCutAndMarked) {
  std::string name;
  for (std::size_t i = 0; i < GetParam().nameLength; ++i) {
    name += static_cast<char>('a' + i % 26);
  }
  os().echoAnswers["10.0.0.5"] = {fake::Reply(12, 128)};
  os().hostNames["10.0.0.5"] = name;
  EXPECT_EQ(Run(GetParam().nameOnly ? "525,0,10.0.0.5" : "525,10.0.0.5,PC5,,,,,0"), std::nullopt);
  ASSERT_EQ(os().reports.size(), 1U);
  const std::string text = os().reports[0].Text();
  EXPECT_LE(text.size(), 254U);
  const std::string shown = GetParam().nameOnly ? text : text.substr(11, text.size() - 12);
  ASSERT_EQ(shown.size(), GetParam().shownLength) << text;
  if (shown.size() < name.size()) {
    EXPECT_EQ(shown, name.substr(0, shown.size() - 1) + "~");
  } else {
    EXPECT_EQ(shown, name);
    EXPECT_EQ(text, GetParam().nameOnly ? name : "PC5,12,128," + name + ",");
  }
}

// A live report "PC5,12,128,<name>," leaves 242 characters for the name.
INSTANTIATE_TEST_SUITE_P(
    Names, LongNameTest,
    ::testing::Values(LongNameCase{false, 20, 20}, LongNameCase{false, 242, 242},
                      LongNameCase{false, 243, 242}, LongNameCase{false, 253, 242},
                      LongNameCase{false, 1000, 242}, LongNameCase{true, 254, 254},
                      LongNameCase{true, 300, 254}),
    testing::kNumberedName);

TEST_F(RunWorkerTest, NonNumericFieldOneRunsTheSlotSequence) {
  Run("525,hostname,A,,,,,0");
  EXPECT_THAT(ReportTexts(), ElementsAre("A,Dead"));
  EXPECT_TRUE(os().echoRequests.empty());
}

TEST_F(RunWorkerTest, NameOnlyRequestReportsTheNameAloneWithoutProbing) {
  os().hostNames["10.0.0.7"] = "Seven.Example.Lan";
  EXPECT_EQ(Run("525,0,10.0.0.7"), std::nullopt);
  EXPECT_THAT(ReportTexts(), ElementsAre("Seven.Example.Lan"));
  EXPECT_EQ(os().Count("IcmpSendEcho"), 0U);
  EXPECT_EQ(os().Count("Netbios"), 0U);
  EXPECT_EQ(os().Count("YieldToSystem"), 12U);
}

TEST_F(RunWorkerTest, NameOnlyWithoutANameSendsOneZeroByte) {
  Run("525,0,10.0.0.8");
  ASSERT_EQ(os().reports.size(), 1U);
  EXPECT_EQ(os().reports[0].cbData, 1U);
}

class SilentNameOnlyFailureTest : public RunWorkerTest,
                                  public ::testing::WithParamInterface<const char*> {};

TEST_P(SilentNameOnlyFailureTest, EndsWithoutMessageOrReport) {
  EXPECT_EQ(Run(GetParam()), 1);
  EXPECT_TRUE(os().reports.empty());
  EXPECT_TRUE(os().failureBoxes.empty());
  EXPECT_EQ(os().socketStarts, 0);
}

INSTANTIATE_TEST_SUITE_P(Failures, SilentNameOnlyFailureTest,
                         ::testing::Values("525,0", "x,0,10.0.0.1"), testing::kNumberedName);

}  // namespace
}  // namespace hostsweep
