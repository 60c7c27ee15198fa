#include "controller/history/change_writer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "controller/history/watch.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

constexpr MacAddress kLaptop{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x01};
constexpr MacAddress kPrinter{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x02};

// Each row handed on, as "address state change", skipped ones in brackets.
class Recorder : public ResultWriter {
 public:
  void Write(const HostView& view) override { rows.push_back(Text(view)); }
  void Skip(const HostView& view) override { rows.push_back("(" + Text(view) + ")"); }
  void Finish(SweepEnd /*end*/) override {}
  std::vector<std::string> rows;

 private:
  static std::string Text(const HostView& view) {
    const std::string change(ChangeText(view.change ? view.change->change : Change::kNone));
    return AddressText(view) + " " + std::string(StateText(view.state)) +
           (change.empty() ? "" : " " + change);
  }
};

HostView Row(Address last, State state, std::optional<MacAddress> mac = std::nullopt,
             std::vector<std::string> ipv6 = {}) {
  return {.address = 0x0A000000U + last,
          .state = state,
          .mac = mac,
          .macSource = mac ? MacSource::kArp : MacSource::kNone,
          .ipv6 = std::move(ipv6)};
}

struct GoneCase {
  const char* what;
  std::vector<HostView> rows;  // this sweep's, every one shown
  std::vector<std::string> expected;
  std::string known{};              // the inventory's rows (--known), if any
  bool ipv6 = false;                // --ipv6
  std::vector<int> missesToGone{};  // --gone-after's, per earlier host
};

constexpr const char* kHeader = "mac,address,alias,owner,expect,note\n";

void PrintTo(const GoneCase& c, std::ostream* os) { *os << c.what; }

class GoneHost : public ::testing::TestWithParam<GoneCase> {};

TEST_P(GoneHost, IsListedOnce) {
  const EarlierSweep earlier{
      .found = {{.address = 0x0A000001U, .mac = kLaptop, .macSource = MacSource::kArp},
                {.address = 0x0A000002U, .mac = kPrinter, .macSource = MacSource::kArp}},
      .swept = {0x0A000001U, 0x0A000002U},
      .missesToGone = GetParam().missesToGone};
  Recorder recorder;
  const Inventory inventory = ParseInventory(kHeader + GetParam().known);
  ChangeWriter writer(
      earlier, {&recorder}, /*changesOnly=*/false, GetParam().ipv6,
      [](const MacAddress&) { return std::string{}; },
      GetParam().known.empty() ? nullptr : &inventory);
  for (const HostView& row : GetParam().rows) {
    writer.Write(row);
  }
  writer.Finish(SweepEnd::kComplete);
  EXPECT_EQ(recorder.rows, GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Compare, GoneHost,
    ::testing::Values(GoneCase{"in the place of the dead row at its address",
                               {Row(1, State::kAlive, kLaptop), Row(2, State::kDead)},
                               {"10.0.0.1 alive", "10.0.0.2 dead gone"}},
                      GoneCase{"after the rows when another device holds its address",
                               {Row(1, State::kDead), Row(2, State::kAlive, kLaptop)},
                               {"10.0.0.1 dead", "10.0.0.2 alive moved", "10.0.0.2 dead gone"}},
                      GoneCase{"an ignored device neither moves nor goes",
                               {Row(1, State::kDead), Row(2, State::kAlive, kLaptop)},
                               {"10.0.0.1 dead", "10.0.0.2 alive"},
                               "00:1a:2b:3c:4d:01,,,,ignore,\n00:1a:2b:3c:4d:02,,,,ignore,\n"},
                      GoneCase{"a device expected always is missing, not gone, where looked for",
                               {Row(1, State::kAlive, kLaptop), Row(2, State::kDead),
                                Row(3, State::kDead)},
                               {"10.0.0.1 alive", "10.0.0.2 dead missing", "10.0.0.3 dead missing"},
                               "00:1a:2b:3c:4d:01,,,,always,\n00:1a:2b:3c:4d:02,,,,always,\n"
                               ",10.0.0.3,,,always,\n,10.0.0.9,,,always,\n"},
                      GoneCase{"an unchecked address was not looked at: none there is gone",
                               {Row(1, State::kAlive, kLaptop), Row(2, State::kUnchecked)},
                               {"10.0.0.1 alive", "10.0.0.2 unchecked"}},
                      GoneCase{"only once missed as often as --gone-after says",
                               {Row(1, State::kDead), Row(2, State::kDead)},
                               {"10.0.0.1 dead", "10.0.0.2 dead gone"},
                               "",
                               false,
                               {2, 1}},
                      GoneCase{"a dual-stack device known by an IPv6 address is never missing",
                               {Row(1, State::kAlive, MacAddress{0x5A, 0, 0, 0, 0, 1},
                                    {"2001:db8::1", "fe80::1%br0"}),
                                Row(2, State::kDead)},
                               {"10.0.0.1 alive", "10.0.0.2 dead gone"},
                               ",2001:db8::1,,,always,\n",
                               true}),
    testing::kNumberedName);

// --watch: an ignored device says nothing, a device expected always is
// missing once, and --unknown-only tells of unknown devices alone.
TEST(WatchWithInventory, TellsMissingOnceAndIgnoresWhatItIsTold) {
  const Inventory inventory = ParseInventory(std::string(kHeader) +
                                             "00:1a:2b:3c:4d:02,,,,always,\n"
                                             ",10.0.0.3,,,always,\n,10.0.0.4,,,ignore,\n");
  WatchBook book{
      .known = {{.host = {.address = 0x0A000002U, .mac = kPrinter, .macSource = MacSource::kArp},
                 .present = true}}};
  SweepRows rows(false);
  for (const HostView& row : {Row(1, State::kAlive, kLaptop), Row(2, State::kDead),
                              Row(3, State::kDead), Row(4, State::kAlive)}) {
    rows.Skip(row);
  }
  const auto events = WatchRound(book, rows.Found(), rows.Swept(), 100);
  const auto told = [&](bool first, bool unknownOnly) {
    std::vector<std::string> texts;
    for (const auto& event :
         InventoryEvents(events, inventory, rows, book.known, first, unknownOnly, 100)) {
      texts.push_back(std::string(ChangeText(event.change)) + " " + AddressText(event.host));
    }
    return texts;
  };
  const std::vector<std::string> atStart{"new 10.0.0.1", "missing 10.0.0.2", "missing 10.0.0.3"};
  EXPECT_EQ(told(true, false), atStart);
  EXPECT_EQ(told(false, false), std::vector<std::string>(atStart.begin(), atStart.end() - 1));
  EXPECT_EQ(told(true, true), std::vector<std::string>{"new 10.0.0.1"});
}

}  // namespace
}  // namespace hostsweep::controller
