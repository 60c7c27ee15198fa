#include "controller/base/results.h"

#include <gtest/gtest.h>

#include <ostream>

#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

class ResultBookTest : public ::testing::Test {
 protected:
  std::vector<Address> addresses_{0x0A000001, 0x0A000002, 0x0A000003};
  ResultBook book_{addresses_};
  const ProbeFacts& At(std::size_t position) { return book_.Results()[position].probe; }
};

TEST_F(ResultBookTest, FilesDeadAndLiveReportsByLabel) {
  EXPECT_EQ(book_.FileProbeReport("h2,Dead"), Filing::kFiled);
  EXPECT_EQ(book_.FileProbeReport("h0,12,128,pc5,00-1A-2B-3C-4D-5E"), Filing::kFiled);
  EXPECT_EQ(At(2).state, State::kDead);
  EXPECT_EQ(book_.Results()[2].address, 0x0A000003U);
  EXPECT_EQ(At(0).state, State::kAlive);
  EXPECT_EQ(At(0).roundTripMs, 12);
  EXPECT_EQ(At(0).ttl, 128);
  EXPECT_EQ(At(0).name, "pc5");
  EXPECT_EQ(At(0).netbiosMac, "00-1A-2B-3C-4D-5E");
  EXPECT_EQ(At(1).state, State::kPending);
  EXPECT_EQ(book_.Done(), 2U);
  EXPECT_EQ(book_.Found(), 1U);
}

TEST_F(ResultBookTest, LiveReportWithoutNameOrMac) {
  ASSERT_EQ(book_.FileProbeReport("h1,0,64,,"), Filing::kFiled);
  EXPECT_EQ(At(1).state, State::kAlive);
  EXPECT_EQ(At(1).name, "");
  EXPECT_EQ(At(1).netbiosMac, "");
}

TEST_F(ResultBookTest, NameHoldingCommasKeepsThemAndTheMacStaysLast) {
  ASSERT_EQ(book_.FileProbeReport("h1,3,64,odd,name,,00-00-00-00-00-01"), Filing::kFiled);
  EXPECT_EQ(At(1).name, "odd,name,");
  EXPECT_EQ(At(1).netbiosMac, "00-00-00-00-00-01");
}

TEST_F(ResultBookTest, SecondReportForASlotIsADuplicateAndChangesNothing) {
  ASSERT_EQ(book_.FileProbeReport("h0,Dead"), Filing::kFiled);
  EXPECT_EQ(book_.FileProbeReport("h0,1,64,x,"), Filing::kDuplicate);
  EXPECT_EQ(At(0).state, State::kDead);
  EXPECT_EQ(book_.Done(), 1U);
}

TEST_F(ResultBookTest, ReportsThatMatchNoSlotAreUnknown) {
  for (const char* text : {"h3,Dead", "PC5,Dead", "", "h0", "h0,Alive", "h0,12,128", "h0,x,128,n,m",
                           "h0,12,256,n,m", "h0,-1,64,n,m", "h0,12,,n,m"}) {
    EXPECT_EQ(book_.FileProbeReport(text), Filing::kUnknown) << text;
  }
  EXPECT_EQ(book_.Done(), 0U);
}

TEST_F(ResultBookTest, NamesOnlyAnswersAreNamedOrUnnamed) {
  EXPECT_EQ(book_.FileName(0, "alpha.lab"), Filing::kFiled);
  EXPECT_EQ(book_.FileName(1, ""), Filing::kFiled);
  EXPECT_EQ(book_.FileName(3, "x"), Filing::kUnknown);
  EXPECT_EQ(At(0).state, State::kNamed);
  EXPECT_EQ(At(0).name, "alpha.lab");
  EXPECT_EQ(At(1).state, State::kUnnamed);
  EXPECT_EQ(book_.Found(), 1U);
}

TEST_F(ResultBookTest, UnreportedSlotsOfAnEndedBatchBecomeNoReport) {
  ASSERT_EQ(book_.FileProbeReport("h1,Dead"), Filing::kFiled);
  book_.MarkUnreported(0, 3);
  EXPECT_EQ(At(0).state, State::kNoReport);
  EXPECT_EQ(At(1).state, State::kDead);
  EXPECT_EQ(At(2).state, State::kNoReport);
  EXPECT_EQ(book_.Done(), 3U);
  EXPECT_EQ(book_.FileProbeReport("h0,Dead"), Filing::kDuplicate);
}

TEST_F(ResultBookTest, LaterStagesAddTheirFactsOnceAndTheWorkersVerdictStays) {
  ASSERT_EQ(book_.FileProbeReport("h0,Dead"), Filing::kFiled);
  book_.FileLink(0, {.mac = ParseMac("00-22-72-00-00-0A"), .heardDuringSweep = true});
  book_.FileLink(0, {});
  book_.AwaitNames(0);
  EXPECT_FALSE(book_.Ready(0));
  book_.FileNames(0, {.mdns = "alpha.local"});
  book_.FileNames(0, {.mdns = "other.local"});
  EXPECT_TRUE(book_.Ready(0));
  const HostResult& result = book_.Results()[0];
  EXPECT_EQ(result.probe.state, State::kDead);
  EXPECT_EQ(StateOf(result), State::kSilent);
  EXPECT_TRUE(result.link->heardDuringSweep);
  EXPECT_EQ(result.names->mdns, "alpha.local");
  EXPECT_EQ(book_.Found(), 1U);
}

// The name shown is the first found in one order, whoever filed it.
struct NameCase {
  const char* what;
  std::string worker;
  ExtraNames asked;
  GivenNames given;
  std::string name;
  NameSource source;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.what; }

class ShownName : public ::testing::TestWithParam<NameCase> {};

TEST_P(ShownName, IsTheFirstInTheOrder) {
  const auto& param = GetParam();
  HostResult result{.probe = {.state = State::kAlive, .name = param.worker}};
  result.names = param.asked;
  result.given = param.given;
  const HostView view = ViewOf(result, [](const MacAddress&) { return std::string{}; });
  EXPECT_EQ(view.name, param.name);
  EXPECT_EQ(view.nameSource, param.source);
}

const GivenNames kAllGiven{.mdnsHost = "lab.local", .dnsSd = "Living Room", .upnp = "TV"};

INSTANTIATE_TEST_SUITE_P(
    Sources, ShownName,
    ::testing::Values(NameCase{"the workers lookup",
                               "pc.lan",
                               {.dns = "x", .mdns = "y.local"},
                               kAllGiven,
                               "pc.lan",
                               NameSource::kDns},
                      NameCase{"reverse mdns before the address record",
                               "",
                               {.mdns = "y.local"},
                               kAllGiven,
                               "y.local",
                               NameSource::kMdns},
                      NameCase{"the address record before netbios",
                               "",
                               {.netbios = "PC"},
                               kAllGiven,
                               "lab.local",
                               NameSource::kMdns},
                      NameCase{"netbios before the instance",
                               "",
                               {.netbios = "PC"},
                               {.dnsSd = "Living Room"},
                               "PC",
                               NameSource::kNetbios},
                      NameCase{"the instance before upnp",
                               "",
                               {},
                               {.dnsSd = "Living Room", .upnp = "TV"},
                               "Living Room",
                               NameSource::kDnsSd},
                      NameCase{"upnp alone", "", {}, {.upnp = "TV"}, "TV", NameSource::kUpnp},
                      NameCase{"none", "", {}, {}, "", NameSource::kNone}),
    testing::kNumberedName);

}  // namespace
}  // namespace hostsweep::controller
