// The real worker in the lab: real echo requests, real successors, the lab's
// hosts file for names.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "tests/integration/harness.h"

namespace hostsweep::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

constexpr const char* kDead = "10.213.0.200";
constexpr const char* kNamed = "10.213.0.10";  // alpha.lab
constexpr const char* kUnnamed = "10.213.0.12";
constexpr const char* kMute = "10.213.0.15";  // drops echo requests
constexpr milliseconds kPatience{15000};

// Which ICMP socket the worker gets depends on whether this user may open
// unprivileged ICMP datagram sockets; run the live cases both ways.
enum class IcmpSocket { kDatagram, kRaw };

void PrintTo(IcmpSocket socket, std::ostream* os) {
  *os << (socket == IcmpSocket::kRaw ? "Raw" : "Datagram");
}

void AllowDatagramSockets(bool allow) {
  std::ofstream("/proc/sys/net/ipv4/ping_group_range") << (allow ? "0 2147483647" : "1 0");
}

class WorkerInLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InLab()) {
      GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
    }
    AllowDatagramSockets(false);
  }
  void TearDown() override {
    EXPECT_TRUE(WaitUntilNoneRun(WorkerPath(), milliseconds(5000))) << "a worker is left running";
  }

  std::string Request(const std::string& rest) const {
    return std::to_string(receiver.handle()) + "," + rest;
  }

  ReportReceiver receiver;
};

class LiveHostTest : public WorkerInLab, public ::testing::WithParamInterface<IcmpSocket> {
 protected:
  void SetUp() override {
    WorkerInLab::SetUp();
    AllowDatagramSockets(GetParam() == IcmpSocket::kDatagram);
  }
  void TearDown() override {
    AllowDatagramSockets(false);
    WorkerInLab::TearDown();
  }
};

TEST_P(LiveHostTest, LoopbackAnswersWithTtl64) {
  const auto run = RunWorkerProcess(Request("127.0.0.1,PC1,,,,,0"));
  EXPECT_EQ(run.exitStatus, 0) << run.standardError;
  const auto reports = receiver.WaitFor(1, kPatience);
  ASSERT_EQ(reports.size(), 1U);
  EXPECT_THAT(reports[0].Text(), MatchesRegex("PC1,[0-9]+,64,localhost,"));
  EXPECT_EQ(reports[0].dwData, 3U);
  EXPECT_EQ(reports[0].payload.size(), reports[0].Text().size() + 1);
  EXPECT_EQ(reports[0].payload.back(), 0);
}

TEST_P(LiveHostTest, LabHostAnswersAndIsNamed) {
  RunWorkerProcess(Request(std::string(kNamed) + ",B,,,,,0"));
  EXPECT_THAT(receiver.WaitFor(1, kPatience).at(0).Text(),
              MatchesRegex("B,[0-9]+,64,alpha\\.lab,.*"));
}

TEST_P(LiveHostTest, UnnamedHostHasBothLastItemsEmpty) {
  RunWorkerProcess(Request(std::string(kUnnamed) + ",C,,,,,0"));
  EXPECT_THAT(receiver.WaitFor(1, kPatience).at(0).Text(), MatchesRegex("C,[0-9]+,64,,"));
}

INSTANTIATE_TEST_SUITE_P(Sockets, LiveHostTest,
                         ::testing::Values(IcmpSocket::kDatagram, IcmpSocket::kRaw),
                         [](const auto& info) { return ::testing::PrintToString(info.param); });

TEST_F(WorkerInLab, DeadAndEchoDroppingHostsAreDead) {
  for (const char* address : {kDead, kMute}) {
    RunWorkerProcess(Request(std::string(address) + ",D,,,,,0"));
  }
  receiver.WaitFor(2, kPatience);
  EXPECT_THAT(receiver.Texts(), ElementsAre("D,Dead", "D,Dead"));
}

TEST_F(WorkerInLab, RejectedAddressesAnswerWithoutWaiting) {
  // Both probes of each slot are rejected at once; the run takes far less
  // than one probe time-out would.
  const auto run = RunWorkerProcess(Request("999.1.1.1,X,255.255.255.255,Y,not-an-address,Z,0"));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_THAT(receiver.WaitFor(3, kPatience).size(), 3U);
  EXPECT_THAT(receiver.Texts(), ElementsAre("X,Dead", "Y,Dead", "Z,Dead"));
  // Six probes that waited for their time-outs would take six seconds.
  EXPECT_LT(run.elapsed, milliseconds(3000));
}

struct BatchCase {
  const char* name;
  std::vector<std::string> addresses;
  std::vector<std::string> expected;  // regexes, in any order
};

void PrintTo(const BatchCase& c, std::ostream* os) { *os << c.name; }

class BatchTest : public WorkerInLab, public ::testing::WithParamInterface<BatchCase> {};

// Every slot gets exactly one report, from whichever worker of the chain
// reaches it.
TEST_P(BatchTest, EverySlotIsReportedOnce) {
  const auto& batch = GetParam();
  RunWorkerProcess(Request(batch.addresses[0] + ",A," + batch.addresses[1] + ",B," +
                           batch.addresses[2] + ",C,0"));
  receiver.WaitFor(3, kPatience);
  ASSERT_TRUE(WaitUntilNoneRun(WorkerPath(), kPatience));
  const auto texts = receiver.Texts();
  ASSERT_EQ(texts.size(), 3U) << ::testing::PrintToString(texts);
  std::vector<::testing::Matcher<std::string>> matchers;
  for (const auto& pattern : batch.expected) {
    matchers.push_back(MatchesRegex(pattern));
  }
  EXPECT_THAT(texts, ::testing::UnorderedElementsAreArray(matchers));
}

INSTANTIATE_TEST_SUITE_P(
    Orders, BatchTest,
    ::testing::Values(
        BatchCase{"DeadLiveLive",
                  {kDead, kNamed, kUnnamed},
                  {"A,Dead", "B,[0-9]+,64,alpha\\.lab,.*", "C,[0-9]+,64,,"}},
        BatchCase{"LiveLiveLive",
                  {kUnnamed, "10.213.0.100", "10.213.0.101"},
                  {"A,[0-9]+,64,,", "B,[0-9]+,64,,", "C,[0-9]+,64,,"}},
        BatchCase{"LiveDeadLive",
                  {kUnnamed, kDead, "10.213.0.102"},
                  {"A,[0-9]+,64,,", "B,Dead", "C,[0-9]+,64,,"}},
        BatchCase{"DeadDeadLive", {kDead, kMute, kUnnamed}, {"A,Dead", "B,Dead", "C,[0-9]+,64,,"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WorkerInLab, NameOnlyRequestReportsTheNameAlone) {
  RunWorkerProcess(Request(std::string("0,") + kNamed));
  RunWorkerProcess(Request(std::string("0,") + kUnnamed));
  const auto reports = receiver.WaitFor(2, kPatience);
  ASSERT_EQ(reports.size(), 2U);
  EXPECT_EQ(reports[0].Text(), "alpha.lab");
  EXPECT_EQ(reports[1].payload, std::vector<unsigned char>{0});
}

TEST_F(WorkerInLab, SevenFieldsFailWithAClearMessageAndNoReport) {
  const auto run = RunWorkerProcess(Request("127.0.0.1,PC1,,,,"));
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_THAT(run.standardError, HasSubstr("hostsweep-worker: "));
  EXPECT_THAT(run.standardError, HasSubstr("pause count"));
  EXPECT_THAT(receiver.WaitFor(1, milliseconds(200)), IsEmpty());
}

TEST_F(WorkerInLab, NameOnlyFailureIsSilent) {
  const auto run = RunWorkerProcess(Request("0"));
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_THAT(run.standardError, IsEmpty());
  EXPECT_THAT(receiver.WaitFor(1, milliseconds(200)), IsEmpty());
}

TEST_F(WorkerInLab, ReportToAMissingReceiverIsDroppedQuietly) {
  const auto run = RunWorkerProcess("12345,127.0.0.1,PC1,,,,,0");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_THAT(run.standardError, IsEmpty());
}

}  // namespace
}  // namespace hostsweep::testing
