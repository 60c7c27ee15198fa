// --watch asks each host it is about to tell gone one last question: who is
// asked when, and what an answer, or silence, makes of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "controller/history/watch.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

HostView Row(Address last, State state) { return {.address = 0x0A000000U + last, .state = state}; }

// One sweep of hosts 10.0.0.1 to 10.0.0.3: those that answered it, and those
// that answer the last question.
struct Sweep {
  std::vector<Address> found;
  std::vector<Address> answering{};
};

struct Case {
  const char* what;
  int goneAfter;
  std::int64_t awayAfter;  // seconds; 0: none
  std::int64_t apart;      // seconds between sweeps
  std::vector<Sweep> sweeps;
  // Per sweep: the hosts asked (each call of the question in brackets), then
  // what was told.
  std::vector<std::string> told;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }

class LastCall : public ::testing::TestWithParam<Case> {};

TEST_P(LastCall, KeepsWhatAnswersAndLetsSilenceGo) {
  const Case& c = GetParam();
  WatchBook book{.goneAfter = c.goneAfter};
  if (c.awayAfter > 0) {
    book.awayAfterOf = [&c](const SeenHost& /*host*/) { return c.awayAfter; };
  }
  std::vector<std::string> told;
  for (std::size_t s = 0; s < c.sweeps.size(); ++s) {
    const std::int64_t now = static_cast<std::int64_t>(s) * c.apart;
    SweepRows rows(false);
    for (Address last = 1; last <= 3; ++last) {
      const bool found = std::ranges::count(c.sweeps[s].found, last) > 0;
      rows.Skip(Row(last, found ? State::kAlive : State::kDead));
    }
    std::string line;
    // The recording fake: notes who is asked, and answers for those that do.
    AskBeforeGone(rows, book.known, book.goneAfter, book.awayAfterOf, now,
                  [&](const std::vector<SeenHost>& hosts) {
                    std::vector<SeenHost> answered;
                    line += "[";
                    for (const SeenHost& host : hosts) {
                      line += " " + AddressText(host);
                      if (std::ranges::count(c.sweeps[s].answering, host.address - 0x0A000000U)) {
                        answered.push_back(host);
                        answered.back().seenBy = SeenBy::kMdns;
                      }
                    }
                    line += " ]";
                    return answered;
                  });
    for (const WatchEvent& event : WatchRound(book, rows.Found(), rows.Swept(), now)) {
      line += " " + std::string(ChangeText(event.change)) + " " + AddressText(event.host);
    }
    told.push_back(line);
  }
  EXPECT_EQ(told, c.told) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    AboutToGo, LastCall,
    ::testing::Values(
        Case{"silence makes a host gone",
             1,
             0,
             60,
             {{{1}}, {{}}, {{}}},
             {" new 10.0.0.1", "[ 10.0.0.1 ] gone 10.0.0.1", ""}},
        Case{"an answer keeps it, asked again at its next miss",
             1,
             0,
             60,
             {{{1}}, {{}, {1}}, {{1}}, {{}}},
             {" new 10.0.0.1", "[ 10.0.0.1 ]", "", "[ 10.0.0.1 ] gone 10.0.0.1"}},
        Case{"asked only at the miss that would make it gone",
             3,
             0,
             60,
             {{{1}}, {{}}, {{}}, {{}, {1}}, {{}}, {{}}, {{}}},
             {" new 10.0.0.1", "", "", "[ 10.0.0.1 ]", "", "", "[ 10.0.0.1 ] gone 10.0.0.1"}},
        Case{"with away-after, once its time is up",
             1,
             150,
             60,
             {{{1}}, {{}}, {{}}, {{}}, {{}}},
             {" new 10.0.0.1", "", "", "[ 10.0.0.1 ] gone 10.0.0.1", ""}},
        Case{"hosts about to go are asked together, each once",
             1,
             0,
             60,
             {{{1, 2, 3}}, {{2}, {3}}},
             {" new 10.0.0.1 new 10.0.0.2 new 10.0.0.3", "[ 10.0.0.1 10.0.0.3 ] gone 10.0.0.1"}}),
    testing::kNumberedName);

}  // namespace
}  // namespace hostsweep::controller
