#include "controller/history/link_conflicts.h"

#include <gtest/gtest.h>

#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

constexpr MacAddress kFirst{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x01};
constexpr MacAddress kSecond{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x02};
constexpr Address kAddress = 0x0A000029U;

const LinkConflict kTwoMacs{.address = kAddress, .mac = kFirst, .otherMac = kSecond};
const LinkConflict kSwapped{.address = kAddress, .mac = kSecond, .otherMac = kFirst};
const LinkConflict kShared{.mac = kFirst, .addresses = 20};
const LinkConflict kSharedMore{.mac = kFirst, .addresses = 30};

// What a sweep heard, or, `between` sweeps, the listener, frame by frame.
struct Heard {
  std::vector<LinkConflict> conflicts;
  bool between = false;
};

struct ConflictRounds {
  const char* what;
  std::vector<LinkConflict> stored;  // left open by the watch before
  std::vector<Heard> heard;
  std::vector<std::string> said;  // "+" started, "-" ended, by step
};

void PrintTo(const ConflictRounds& c, std::ostream* os) { *os << c.what; }

class ConflictsOfAWatch : public ::testing::TestWithParam<ConflictRounds> {};

TEST_P(ConflictsOfAWatch, AreToldOnceWhenTheyStartAndOnceWhenTheyEnd) {
  ConflictBook book(GetParam().stored);
  std::vector<std::string> said;
  for (const auto& heard : GetParam().heard) {
    ConflictChanges changes;
    if (heard.between) {
      for (const LinkConflict& conflict : heard.conflicts) {
        const ConflictChanges once = book.Heard(conflict);
        changes.started.insert(changes.started.end(), once.started.begin(), once.started.end());
      }
    } else {
      changes = book.Round(heard.conflicts);
    }
    std::string text;
    for (const LinkConflict& conflict : changes.started) {
      text += "+" + ConflictWarning(conflict) + " ";
    }
    for (const LinkConflict& conflict : changes.ended) {
      text += "-" + ConflictEndedLine(conflict) + " ";
    }
    said.push_back(text);
  }
  EXPECT_EQ(said, GetParam().said);
}

const std::string kTwoMacsSaid =
    "+hostsweep: warning: 10.0.0.41 answered ARP from two MAC addresses, 00:1a:2b:3c:4d:01 and "
    "00:1a:2b:3c:4d:02: an address conflict or a spoofed reply; showing the first ";
const std::string kSharedSaid =
    "+hostsweep: warning: 00:1a:2b:3c:4d:01 answered ARP for 20 addresses: proxy ARP, one host "
    "holding them all and spoofed replies look alike ";

INSTANTIATE_TEST_SUITE_P(
    Watch, ConflictsOfAWatch,
    ::testing::Values(
        ConflictRounds{"an address conflict that lasts, whichever MAC answers first",
                       {},
                       {{{kTwoMacs}}, {{kSwapped}}, {{kTwoMacs}}, {}},
                       {kTwoMacsSaid, "", "",
                        "-hostsweep: 10.0.0.41 answers ARP from one MAC address again "}},
        ConflictRounds{"a shared MAC whose count changes",
                       {},
                       {{{kShared}}, {{kSharedMore}}, {}},
                       {kSharedSaid, "",
                        "-hostsweep: 00:1a:2b:3c:4d:01 no longer answers ARP for more addresses "
                        "than a host holds "}},
        ConflictRounds{"a conflict that returns is told again",
                       {},
                       {{{kShared}}, {}, {{kShared}}},
                       {kSharedSaid,
                        "-hostsweep: 00:1a:2b:3c:4d:01 no longer answers ARP for more addresses "
                        "than a host holds ",
                        kSharedSaid}},
        ConflictRounds{"one left open by the watch before is not told again, its end is",
                       {kTwoMacs},
                       {{{kSwapped}}, {}},
                       {"", "-hostsweep: 10.0.0.41 answers ARP from one MAC address again "}},
        ConflictRounds{
            "heard between sweeps: told at once, once whatever the frames, ended by "
            "a sweep that no longer hears it",
            {},
            {{{kTwoMacs, kSwapped}, true}, {{kTwoMacs}, true}, {}},
            {kTwoMacsSaid, "", "-hostsweep: 10.0.0.41 answers ARP from one MAC address again "}},
        ConflictRounds{"heard between sweeps that keep hearing it: told once",
                       {},
                       {{{kShared}}, {{kSharedMore}, true}, {{kShared}}},
                       {kSharedSaid, "", ""}}),
    testing::kNumberedName);

}  // namespace
}  // namespace hostsweep::controller
