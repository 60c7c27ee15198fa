// --watch asks each host it is about to tell gone one last question: who is
// asked when, and what an answer, or silence, makes of it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "controller/history/watch.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

struct Case {
  const char* what;
  int goneAfter;
  std::int64_t awayAfter;  // seconds; 0: none
  // Sweeps a minute apart of 10.0.0.1 to 10.0.0.3, each "FOUND/ANSWERING"
  // (the last digits of the hosts it found, and of those that answer), then
  // the hosts asked, in brackets per question, and what was told.
  std::vector<std::string> sweeps;
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
    const std::string sweep = c.sweeps[s].substr(0, c.sweeps[s].find(' '));
    const std::string found = sweep.substr(0, sweep.find('/'));
    const std::string answering = sweep.substr(sweep.find('/'));
    const auto now = static_cast<std::int64_t>(s) * 60;
    SweepRows rows(false);
    for (char last = '1'; last <= '3'; ++last) {
      rows.Skip({.address = 0x0A000000U + static_cast<Address>(last - '0'),
                 .state = found.find(last) != std::string::npos ? State::kAlive : State::kDead});
    }
    std::string line = sweep;
    // The recording fake: notes who is asked, and answers for some.
    AskBeforeGone(rows, book.known, book.goneAfter, book.awayAfterOf, now,
                  [&](const std::vector<SeenHost>& hosts) {
                    std::vector<SeenHost> answered;
                    line += " [";
                    for (const SeenHost& host : hosts) {
                      line += AddressText(host).back();
                      if (answering.find(AddressText(host).back()) != std::string::npos) {
                        answered.push_back(host);
                        answered.back().seenBy = SeenBy::kMdns;
                      }
                    }
                    line += "]";
                    return answered;
                  });
    for (const WatchEvent& event : WatchRound(book, rows.Found(), rows.Swept(), now)) {
      line += " " + std::string(ChangeText(event.change)) + " " + AddressText(event.host).back();
    }
    told.push_back(line);
  }
  EXPECT_EQ(told, c.sweeps) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    AboutToGo, LastCall,
    ::testing::Values(
        Case{"silence makes a host gone", 1, 0, {"1/ new 1", "/ [1] gone 1", "/"}},
        Case{"an answer keeps it, asked again", 1, 0, {"1/ new 1", "/1 [1]", "1/", "/ [1] gone 1"}},
        Case{"asked at its last miss", 2, 0, {"1/ new 1", "/", "/1 [1]", "/", "/ [1] gone 1"}},
        Case{"away-after: once its time is up", 1, 150, {"1/ new 1", "/", "/", "/ [1] gone 1"}},
        Case{"asked together, each once", 1, 0, {"123/ new 1 new 2 new 3", "2/3 [13] gone 1"}}),
    testing::kNumberedName);

}  // namespace
}  // namespace hostsweep::controller
