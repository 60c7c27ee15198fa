// What --ipv6 reads on Linux, from canned bytes: which ICMPv6 messages are
// answers to its echo request, which sources are on the link, how addresses
// are written, and which answers have a neighbour entry to give their MAC.
#include "controller/system/posix/ipv6_echo.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <vector>

#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

constexpr std::uint16_t kOurs = 0x1234;

Ipv6Bytes Parse(const char* text) {
  Ipv6Bytes bytes{};
  EXPECT_EQ(inet_pton(AF_INET6, text, bytes.data()), 1) << text;
  return bytes;
}

struct ReplyCase {
  const char* name;
  std::vector<std::uint8_t> message;
  bool counts;
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class EchoReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(EchoReply, OnlyOurEchoRepliesCount) {
  EXPECT_EQ(IsEchoReplyTo(GetParam().message, kOurs), GetParam().counts);
}

INSTANTIATE_TEST_SUITE_P(
    Ipv6, EchoReply,
    ::testing::Values(ReplyCase{"Ours", {129, 0, 0xab, 0xcd, 0x12, 0x34, 0, 1}, true},
                      ReplyCase{"OursWithData", {129, 0, 0, 0, 0x12, 0x34, 0, 0, 7, 7}, true},
                      ReplyCase{
                          "AnotherProgramsIdentifier", {129, 0, 0, 0, 0x43, 0x21, 0, 1}, false},
                      ReplyCase{"ARequest", {128, 0, 0, 0, 0x12, 0x34, 0, 1}, false},
                      ReplyCase{"AnUnknownCode", {129, 1, 0, 0, 0x12, 0x34, 0, 1}, false},
                      ReplyCase{"Cut", {129, 0, 0, 0, 0x12, 0x34, 0}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EchoReply, OurRequestCarriesTheIdentifierAndSequenceAReplyEchoes) {
  auto request = EchoRequest(kOurs, 2);
  EXPECT_EQ(request[0], 128);
  EXPECT_EQ(request[7], 2);
  request[0] = 129;
  EXPECT_TRUE(IsEchoReplyTo(request, kOurs));
}

struct SourceCase {
  const char* source;
  bool onLink;       // with the interface holding 2001:db8:214::1/64
  const char* text;  // as printed, heard on br0
};

void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.source; }

class Ipv6Source : public ::testing::TestWithParam<SourceCase> {};

TEST_P(Ipv6Source, IsOnLinkWhenLinkLocalOrInTheInterfacesPrefixAndIsCanonical) {
  const std::vector<Ipv6Prefix> prefixes{{.address = Parse("2001:db8:214::1"), .length = 64}};
  EXPECT_EQ(IsOnLink(Parse(GetParam().source), prefixes), GetParam().onLink);
  EXPECT_EQ(Ipv6Text(Parse(GetParam().source), "br0"), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Ipv6, Ipv6Source,
    ::testing::Values(
        SourceCase{"FE80:0000:0000:0000:0222:72FF:FE00:0020", true, "fe80::222:72ff:fe00:20%br0"},
        SourceCase{"febf::1", true, "febf::1%br0"},
        SourceCase{"2001:0db8:0214:0000:0000:0000:0000:0020", true, "2001:db8:214::20"},
        SourceCase{"2001:db8:214:0:1:0:0:1", true, "2001:db8:214:0:1::1"},
        SourceCase{"2001:db8:215::20", false, "2001:db8:215::20"},
        SourceCase{"2001:db8:0:0:1:0:0:1", false, "2001:db8::1:0:0:1"},
        SourceCase{"fec0::1", false, "fec0::1"}),
    testing::kNumberedName);

struct JoinCase {
  const char* name;
  int entryInterface;
  bool entry;
  bool joined;
};

void PrintTo(const JoinCase& c, std::ostream* os) { *os << c.name; }

class Ipv6Join : public ::testing::TestWithParam<JoinCase> {};

TEST_P(Ipv6Join, AnAnswerTakesTheMacOfItsEntryOnTheInterfaceItAnsweredOn) {
  const MacAddress mac{0x00, 0x22, 0x72, 0x00, 0x00, 0x20};
  std::vector<Ipv6NeighbourEntry> table;
  if (GetParam().entry) {
    table.push_back(
        {.address = Parse("fe80::20"), .interfaceIndex = GetParam().entryInterface, .mac = mac});
  }
  const auto joined =
      JoinAnswers({{.address = Parse("fe80::20"), .interfaceIndex = 3}}, table, {{3, "br0"}});
  ASSERT_EQ(joined.size(), GetParam().joined ? 1U : 0U);
  if (!joined.empty()) {
    EXPECT_EQ(joined[0].address, "fe80::20%br0");
    EXPECT_EQ(joined[0].mac, mac);
    EXPECT_TRUE(joined[0].linkLocal);
  }
}

INSTANTIATE_TEST_SUITE_P(Ipv6, Ipv6Join,
                         ::testing::Values(JoinCase{"SameInterface", 3, true, true},
                                           JoinCase{"OtherInterface", 4, true, false},
                                           JoinCase{"NoEntry", 3, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hostsweep::controller
