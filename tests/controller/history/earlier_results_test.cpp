#include "controller/history/earlier_results.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <sstream>
#include <string>

#include "controller/base/errors.h"
#include "controller/history/watch.h"
#include "controller/output/result_stream.h"
#include "controller/output/xml_output.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

constexpr std::string_view kLines =
    R"({"address":"10.0.0.5","state":"alive","name":"nas","mac":"00-1A-2B-3C-4D-01","mac_source":"neighbour"}
{"address":"10.0.0.6","state":"dead","name":null,"mac":null,"mac_source":null}
{"address":"10.0.0.7","state":"silent","name":null,"mac":"02-11-22-33-44-55","mac_source":"arp"}
)";

TEST(EarlierSweep, TakesTheHostsFoundAndTheAddressesCovered) {
  const EarlierSweep sweep = ParseSweepLines(kLines);
  ASSERT_EQ(sweep.found.size(), 2U);
  EXPECT_EQ(sweep.found[0].name, "nas");
  EXPECT_EQ(sweep.found[1].macSource, MacSource::kArp);
  EXPECT_EQ(sweep.swept.size(), 3U);
}

std::string Written(std::unique_ptr<ResultWriter> writer, const std::ostringstream& out,
                    const std::vector<HostView>& views) {
  for (const auto& view : views) {
    writer->Write(view);
  }
  writer->Finish(SweepEnd::kComplete);
  return out.str();
}

// The same sweep written as XML and as JSON lines reads back as the same
// hosts, but for where a MAC came from, which the XML does not say; what a
// device said it is reads back from either (in the XML, a table of its one
// host script); the inventory's alias, a last host name, is no name.
TEST(EarlierSweep, ReadsOurXmlAsItsJsonLines) {
  const std::vector<HostView> views{
      {.address = 0x0A000005U,
       .state = State::kAlive,
       .name = "nas & <co>",
       .nameSource = NameSource::kNetbios,
       .mac = ParseMac("00-1A-2B-3C-4D-01"),
       .macSource = MacSource::kNeighbour,
       .workgroup = "LAB",
       .device = {.type = "storage-misc", .make = "Syn", .model = "DS220+ <&>"},
       .change = RowChange{.change = Change::kRenamed, .previous = "nas"},
       .known = KnownFacts{.known = true, .alias = "desk"}},
      {.address = 0x0A000006U, .state = State::kDead},
      {.address = 0x0A000007U,
       .state = State::kSilent,
       .mac = ParseMac("02-11-22-33-44-55"),
       .macSource = MacSource::kArp,
       .device = {.services = {"_ssh._tcp"}},
       .known = KnownFacts{.known = true, .alias = "desk"}},
      {.address = 0x0A000008U, .state = State::kNamed, .name = "printer"},
      {.address = 0x0A000009U, .state = State::kUnnamed},
      {.state = State::kAlive,
       .mac = ParseMac("00-1A-2B-3C-4D-0A"),
       .macSource = MacSource::kNeighbour,
       .ipv6 = {"fe80::1%eth0"},
       .ipv6Only = true}};
  std::ostringstream json;
  std::ostringstream xml;
  const EarlierSweep fromJson =
      ParseEarlierSweep(Written(MakeWriter(Format::kJson, json), json, views));
  const EarlierSweep fromXml =
      ParseEarlierSweep(Written(MakeXmlWriter(xml, SweepRun{}), xml, views));
  auto expected = fromJson.found;
  for (auto& host : expected) {
    host.macSource = host.mac ? MacSource::kNetbios : MacSource::kNone;
  }
  EXPECT_EQ(fromXml.found, expected);
  EXPECT_EQ(fromXml.swept, fromJson.swept);
  ASSERT_EQ(fromJson.found.size(), 4U);
  EXPECT_EQ(fromJson.found[3].ipv6, "fe80::1%eth0");
  EXPECT_EQ(fromJson.found[0].type, views[0].device.type);
  EXPECT_EQ(fromJson.found[0].model, views[0].device.model);
  EXPECT_EQ(fromJson.found[1].type, "");
}

TEST(WatchState, ReadsBackWhatItWrote) {
  const std::vector<KnownHost> hosts{
      {.host = ParseSweepLines(kLines).found[0], .present = true, .firstSeen = 1, .lastSeen = 9},
      {.host = {.address = 1, .type = "printer", .model = "HL-2270"}, .present = true},
      {.host = {.ipv6 = "2001:db8::a"}, .present = false, .firstSeen = 2, .lastSeen = 3}};
  EXPECT_EQ(ParseState(StateDocument(hosts)), hosts);
}

struct Hostile {
  const char* what;
  bool state;  // a state file, else JSON lines
  std::string bytes;
  const char* said;
  bool quick = false;  // guarded against slow refusal
};

void PrintTo(const Hostile& c, std::ostream* os) { *os << c.what; }

class HostileInput : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileInput, IsAClearErrorNeverAnEmptySweep) {
  const auto& input = GetParam();
  const auto start = std::chrono::steady_clock::now();
  try {
    if (input.state) {
      ParseState(input.bytes);
    } else {
      ParseEarlierSweep(input.bytes);
    }
    ADD_FAILURE() << input.what << ": accepted";
  } catch (const EarlierResultsError& error) {
    EXPECT_NE(std::string(error.what()).find(input.said), std::string::npos)
        << input.what << ": " << error.what();
  }
  EXPECT_TRUE(!input.quick || std::chrono::steady_clock::now() - start < std::chrono::seconds(1))
      << input.what << ": slow";
}

const KnownHost kKnown{.host = {.address = 0x0A000005U, .name = "nas"},
                       .present = true,
                       .firstSeen = 1,
                       .lastSeen = 2};
const std::string kState = StateDocument({kKnown});

constexpr std::string_view kXml = R"(<?xml version="1.0"?>
<!DOCTYPE nmaprun>
<nmaprun scanner="hostsweep">
<host><status state="up" reason="echo-reply" reason_ttl="64"/>
<address addr="10.0.0.5" addrtype="ipv4"/>
<address addr="00:1A:2B:3C:4D:01" addrtype="mac"/>
<hostnames><hostname name="nas" type="PTR"/></hostnames>
</host>
</nmaprun>
)";

// Each entity ten of the one before: a billion characters from a few hundred.
const std::string kBomb = [] {
  std::string bomb = R"(<!DOCTYPE nmaprun [<!ENTITY a "aaaaaaaaaa">)";
  for (char entity = 'b'; entity <= 'j'; ++entity) {
    std::string tenfold;
    for (int i = 0; i < 10; ++i) {
      tenfold += std::string("&") + static_cast<char>(entity - 1) + ";";
    }
    bomb += std::string("<!ENTITY ") + entity + " \"" + tenfold + "\">";
  }
  return bomb + "]>";
}();

std::string Replaced(std::string text, std::string_view from, std::string_view to) {
  return text.replace(text.find(from), from.size(), to);
}

// libxml2 holds each attribute against all before it: 50000 take seconds.
const std::string kAttributeBomb = [] {
  std::string host = "<host";
  for (int i = 0; i < 50'000; ++i) {
    host += " a" + std::to_string(i) + "=\"\"";
  }
  return Replaced(std::string(kXml), "<host>", host + ">");
}();

INSTANTIATE_TEST_SUITE_P(
    CannedBytes, HostileInput,
    ::testing::Values(
        Hostile{"empty lines", false, "\r\n\n", "empty"},
        Hostile{"cut short", false, std::string(kLines.substr(0, 150)), "line 2"},
        Hostile{"CSV", false, "address,state,rtt_ms,ttl,name,mac,vendor\r\n", "line 1"},
        Hostile{"truncated XML", false, std::string(kXml.substr(0, kXml.size() / 2)), "cut short"},
        Hostile{
            "an external entity", false,
            Replaced(Replaced(std::string(kXml), "<!DOCTYPE nmaprun>",
                              R"(<!DOCTYPE nmaprun [<!ENTITY e SYSTEM "file:///etc/passwd">]>)"),
                     "<hostnames>", "<hostnames>&e;"),
            "DOCTYPE declares"},
        Hostile{"an entity bomb", false,
                Replaced(Replaced(std::string(kXml), "<!DOCTYPE nmaprun>", kBomb), "nas", "&j;"),
                "entit"},
        Hostile{"an attribute bomb", false, kAttributeBomb, "more than 100 attributes", true},
        Hostile{"an XML host without an address", false,
                Replaced(std::string(kXml), R"(<address addr="10.0.0.5" addrtype="ipv4"/>)", ""),
                "without an address"},
        Hostile{"a foreign XML document", false, "<html><body/></html>", "not <nmaprun>"},
        Hostile{"XML with a bad MAC", false, Replaced(std::string(kXml), "00:1A", "00:1G"),
                "not a MAC"},
        Hostile{"a bad address", false, R"({"address":"10.0.0.0/24","state":"alive"})",
                "not an IP address"},
        Hostile{"a bad IPv6 address", false, R"({"address":"2001:db8::1::2","state":"alive"})",
                "not an IP address"},
        Hostile{"a bad MAC", false, R"({"address":"10.0.0.1","state":"alive","mac":"x"})",
                "not a MAC"},
        Hostile{"an endless line", false, std::string(100000, '['), "longer"},
        Hostile{"empty state", true, "", "not a whole JSON object"},
        Hostile{"truncated state", true, kState.substr(0, kState.size() / 2),
                "not a whole JSON object"},
        Hostile{"a foreign document", true, R"({"hosts":[]})", "not a hostsweep"},
        Hostile{"a newer format", true, Replaced(kState, "\"format\": 1", "\"format\": 2"),
                "newer hostsweep"},
        Hostile{"a format past any int", true,
                Replaced(kState, "\"format\": 1", "\"format\": 4294967297"), "newer hostsweep"},
        Hostile{"a corrupt host", true, Replaced(kState, "\"present\": true", "\"present\": 1"),
                "present"},
        Hostile{"a time before 1970", true,
                Replaced(kState, "\"first_seen\": 1", "\"first_seen\": -9223372036854775808"),
                "host 1: \"first_seen\" is no time"},
        Hostile{"a time past 9999", true,
                Replaced(kState, "\"last_seen\": 2", "\"last_seen\": 253402300800"),
                "host 1: \"last_seen\" is no time"},
        Hostile{"a deep nest", true, std::string(100000, '[') + std::string(100000, ']'),
                "not a whole JSON object"}),
    testing::kNumberedName);

std::string Repeated(std::string_view text, int times) {
  std::string repeated;
  while (times-- > 0) {
    repeated += text;
  }
  return repeated;
}

constexpr std::string_view kNas = kLines.substr(0, kLines.find('\n') + 1);
constexpr std::string_view kXmlHost =
    kXml.substr(kXml.find("<host>"), kXml.find("</host>") + 8 - kXml.find("<host>"));

struct Repeats {
  const char* what;
  bool state;  // a state file, else an earlier sweep
  std::string bytes;
  std::size_t hosts;
};

void PrintTo(const Repeats& c, std::ostream* os) { *os << c.what; }

class RepeatedHosts : public ::testing::TestWithParam<Repeats> {};

// However often a file names a host, it is one host, called gone once; an
// earlier sweep's address is its first row's.
TEST_P(RepeatedHosts, AreOneHostEach) {
  const auto& input = GetParam();
  if (input.state) {
    EXPECT_EQ(ParseState(input.bytes).size(), input.hosts) << input.what;
    return;
  }
  const EarlierSweep sweep = ParseEarlierSweep(input.bytes);
  EXPECT_EQ(sweep.found.size(), input.hosts) << input.what;
  EXPECT_EQ(std::set<Address>(sweep.swept.begin(), sweep.swept.end()).size(), sweep.swept.size());
}

INSTANTIATE_TEST_SUITE_P(
    CannedBytes, RepeatedHosts,
    ::testing::Values(
        Repeats{"a line again and again", false, Repeated(kNas, 3), 1},
        Repeats{"a device renamed", false,
                std::string(kNas) + Replaced(std::string(kNas), "nas", "nas2"), 1},
        Repeats{"a device at two addresses", false,
                std::string(kNas) + Replaced(std::string(kNas), "10.0.0.5", "10.0.0.6"), 2},
        Repeats{"one address under many names, no device's MAC", false,
                R"({"address":"10.0.0.7","state":"silent","mac":"02-11-22-33-44-55"}
{"address":"10.0.0.7","state":"silent","mac":"02-11-22-33-44-55"}
{"address":"10.0.0.7","state":"alive","name":"b"}
{"address":"10.0.0.7","state":"alive","name":"c"})",
                1},
        Repeats{"an address dead, then found", false,
                R"({"address":"10.0.0.7","state":"dead"}
{"address":"10.0.0.7","state":"alive","name":"b"})",
                0},
        Repeats{"an XML host again and again", false,
                Replaced(std::string(kXml), kXmlHost, Repeated(kXmlHost, 3)), 1},
        Repeats{"a state's host again and again", true,
                StateDocument(std::vector<KnownHost>(3, kKnown)), 1}),
    testing::kNumberedName);

// A watch of one address: a host appears, stays, leaves, comes back.
TEST(WatchRounds, TellEachChangeOnceAndKeepWhenAHostWasFirstSeen) {
  const SeenHost host{.address = 0x0A000005U, .name = "nas", .mac = std::nullopt};
  const SweepScope swept({host.address}, false);
  WatchBook book;
  std::vector<std::vector<WatchEvent>> rounds;
  const std::vector<std::vector<SeenHost>> found{{host}, {host}, {}, {}, {host}};
  for (std::size_t round = 0; round < found.size(); ++round) {
    rounds.push_back(WatchRound(book, found[round], swept, static_cast<std::int64_t>(round)));
  }
  const auto changes = [&rounds](std::size_t round) {
    std::string text;
    for (const auto& event : rounds[round]) {
      text += std::string(ChangeText(event.change)) + "@" + std::to_string(event.firstSeen);
    }
    return text;
  };
  EXPECT_EQ(changes(0), "new@0");
  EXPECT_EQ(changes(1), "");
  EXPECT_EQ(changes(2), "gone@0");
  EXPECT_EQ(changes(3), "");
  EXPECT_EQ(changes(4), "back@0");
  ASSERT_EQ(book.known.size(), 1U);
  EXPECT_EQ(book.known[0].lastSeen, 4);
}

struct AwayCase {
  const char* what;
  int goneAfter;
  std::int64_t awayAfter;            // what awayAfterOf gives; 0: none
  std::vector<std::int64_t> sweeps;  // the times of the sweeps after the one that saw it, at 0
  std::string told;                  // "gone@T" or ""
};

void PrintTo(const AwayCase& c, std::ostream* os) { *os << c.what; }

class GoneDecision : public ::testing::TestWithParam<AwayCase> {};

// A host missed is gone after --gone-after sweeps, or, given a time, once a
// sweep finds it unseen that long however many sweeps missed it.
TEST_P(GoneDecision, WaitsForTheSweepsOrTheTime) {
  const AwayCase& c = GetParam();
  const SeenHost host{.address = 0x0A000005U, .name = "phone", .mac = std::nullopt};
  const SweepScope swept({host.address}, false);
  WatchBook book{.goneAfter = c.goneAfter};
  if (c.awayAfter > 0) {
    book.awayAfterOf = [&c](const SeenHost&) { return c.awayAfter; };
  }
  WatchRound(book, {host}, swept, 0);
  std::string told;
  for (const std::int64_t now : c.sweeps) {
    for (const auto& event : WatchRound(book, {}, swept, now)) {
      told += std::string(ChangeText(event.change)) + "@" + std::to_string(now);
    }
  }
  EXPECT_EQ(told, c.told);
}

INSTANTIATE_TEST_SUITE_P(
    WatchRounds, GoneDecision,
    ::testing::Values(
        AwayCase{"three sweeps", 3, 0, {60, 120, 180, 240}, "gone@180"},
        AwayCase{"a dozing phone's 20 minutes, sweeps a minute apart",
                 3,
                 1200,
                 {60, 180, 600, 1199, 1200, 1260},
                 "gone@1200"},
        AwayCase{"an hour apart, 90 s is up at the first miss", 3, 90, {3600, 7200}, "gone@3600"}),
    testing::kNumberedName);

// Hosts under ever new randomised MACs cannot grow the state for ever.
TEST(WatchRounds, ForgetTheHostsGoneLongestPastTheirBound) {
  constexpr std::size_t kBound = 100'000;
  WatchBook book;
  std::vector<KnownHost>& known = book.known;
  for (std::size_t i = 0; i < kBound; ++i) {
    known.push_back({.host = {.address = static_cast<Address>(i)},
                     .present = false,
                     .firstSeen = 0,
                     .lastSeen = static_cast<std::int64_t>(i)});
  }
  const SeenHost arrival{.address = 0x0A000005U, .name = "nas"};
  WatchRound(book, {arrival}, SweepScope({arrival.address}, false), kBound);
  ASSERT_EQ(known.size(), kBound);
  EXPECT_EQ(known.front().host, arrival);
  EXPECT_EQ(std::min_element(
                known.begin(), known.end(),
                [](const KnownHost& a, const KnownHost& b) { return a.lastSeen < b.lastSeen; })
                ->lastSeen,
            1);
}

}  // namespace
}  // namespace hostsweep::controller
