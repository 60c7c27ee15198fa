#include "controller/earlier_results.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "controller/errors.h"
#include "controller/watch.h"

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

TEST(WatchState, ReadsBackWhatItWrote) {
  const std::vector<KnownHost> hosts{
      {.host = ParseSweepLines(kLines).found[0], .present = true, .firstSeen = 1, .lastSeen = 9}};
  EXPECT_EQ(ParseState(StateDocument(hosts)), hosts);
}

struct Hostile {
  const char* what;
  bool state;  // a state file, else JSON lines
  std::string bytes;
  const char* said;
};

class HostileInput : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileInput, IsAClearErrorNeverAnEmptySweep) {
  const auto& input = GetParam();
  try {
    if (input.state) {
      ParseState(input.bytes);
    } else {
      ParseSweepLines(input.bytes);
    }
    ADD_FAILURE() << input.what << ": accepted";
  } catch (const EarlierResultsError& error) {
    EXPECT_NE(std::string(error.what()).find(input.said), std::string::npos)
        << input.what << ": " << error.what();
  }
}

const std::string kState = StateDocument({{.host = {.address = 0x0A000005U,
                                                    .name = "nas",
                                                    .mac = std::nullopt,
                                                    .macSource = MacSource::kNone},
                                           .present = true,
                                           .firstSeen = 1,
                                           .lastSeen = 2}});

std::string Replaced(std::string text, std::string_view from, std::string_view to) {
  return text.replace(text.find(from), from.size(), to);
}

INSTANTIATE_TEST_SUITE_P(
    CannedBytes, HostileInput,
    ::testing::Values(
        Hostile{"empty lines", false, "\r\n\n", "empty"},
        Hostile{"cut short", false, std::string(kLines.substr(0, 150)), "line 2"},
        Hostile{"CSV", false, "address,state,rtt_ms,ttl,name,mac,vendor\r\n", "line 1"},
        Hostile{"XML", false, "<?xml version=\"1.0\"?>\n<nmaprun>", "line 1"},
        Hostile{"a bad address", false, R"({"address":"10.0.0.0/24","state":"alive"})",
                "not an IPv4 address"},
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
        Hostile{"a deep nest", true, std::string(100000, '[') + std::string(100000, ']'),
                "not a whole JSON object"}));

// A watch of one address: a host appears, stays, leaves, comes back.
TEST(WatchRounds, TellEachChangeOnceAndKeepWhenAHostWasFirstSeen) {
  const SeenHost host{.address = 0x0A000005U, .name = "nas", .mac = std::nullopt};
  const std::vector<Address> swept{host.address};
  std::vector<KnownHost> known;
  std::vector<std::vector<WatchEvent>> rounds;
  const std::vector<std::vector<SeenHost>> found{{host}, {host}, {}, {}, {host}};
  for (std::size_t round = 0; round < found.size(); ++round) {
    rounds.push_back(WatchRound(known, found[round], swept, static_cast<std::int64_t>(round)));
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
  EXPECT_EQ(changes(4), "new@0");
  ASSERT_EQ(known.size(), 1U);
  EXPECT_EQ(known[0].lastSeen, 4);
}

// Hosts under ever new randomised MACs cannot grow the state for ever.
TEST(WatchRounds, ForgetTheHostsGoneLongestPastTheirBound) {
  constexpr std::size_t kBound = 100'000;
  std::vector<KnownHost> known;
  for (std::size_t i = 0; i < kBound; ++i) {
    known.push_back({.host = {.address = static_cast<Address>(i)},
                     .present = false,
                     .firstSeen = 0,
                     .lastSeen = static_cast<std::int64_t>(i)});
  }
  const SeenHost arrival{.address = 0x0A000005U, .name = "nas"};
  WatchRound(known, {arrival}, {arrival.address}, kBound);
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
