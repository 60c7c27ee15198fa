#include "controller/history/change_writer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

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

HostView Row(Address last, State state, std::optional<MacAddress> mac = std::nullopt) {
  return {.address = 0x0A000000U + last,
          .state = state,
          .mac = mac,
          .macSource = mac ? MacSource::kArp : MacSource::kNone};
}

struct GoneCase {
  const char* what;
  std::vector<HostView> rows;  // this sweep's, every one shown
  std::vector<std::string> expected;
  std::vector<int> missesToGone{};  // --gone-after's, per earlier host
};

void PrintTo(const GoneCase& c, std::ostream* os) { *os << c.what; }

class GoneHost : public ::testing::TestWithParam<GoneCase> {};

TEST_P(GoneHost, IsListedOnce) {
  const EarlierSweep earlier{
      .found = {{.address = 0x0A000001U, .mac = kLaptop, .macSource = MacSource::kArp},
                {.address = 0x0A000002U, .mac = kPrinter, .macSource = MacSource::kArp}},
      .swept = {0x0A000001U, 0x0A000002U},
      .missesToGone = GetParam().missesToGone};
  Recorder recorder;
  ChangeWriter writer(earlier, {&recorder}, /*changesOnly=*/false, /*ipv6=*/false,
                      [](const MacAddress&) { return std::string{}; });
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
                      GoneCase{"only once missed as often as --gone-after says",
                               {Row(1, State::kDead), Row(2, State::kDead)},
                               {"10.0.0.1 dead", "10.0.0.2 dead gone"},
                               {2, 1}}));

}  // namespace
}  // namespace hostsweep::controller
