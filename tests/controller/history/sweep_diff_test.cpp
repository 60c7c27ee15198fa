#include "controller/history/sweep_diff.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "controller/history/watch.h"
#include "tests/case_name.h"
#include "tests/controller/base/local_zone.h"

namespace hostsweep::controller {
namespace {

constexpr MacAddress kLaptop{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x01};
constexpr MacAddress kPrinter{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x02};
constexpr MacAddress kPhoneToday{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};  // randomised
constexpr MacAddress kPhoneLater{0x6A, 0x11, 0x22, 0x33, 0x44, 0x66};  // randomised

SeenHost Host(Address last, std::string name, std::optional<MacAddress> mac,
              MacSource source = MacSource::kNeighbour) {
  return {.address = 0x0A000000U + last,
          .name = std::move(name),
          .mac = mac,
          .macSource = mac ? source : MacSource::kNone};
}

// The same host, saying it is something else.
SeenHost Typed(SeenHost host, std::string type, std::string model) {
  host.type = std::move(type);
  host.model = std::move(model);
  return host;
}

// A device heard over IPv6 alone, as its neighbour entry gave its MAC.
SeenHost Ipv6Only(const std::string& address, MacAddress mac) {
  return {.mac = mac, .macSource = MacSource::kNeighbour, .ipv6 = address};
}

// What each current host is called, "gone" for each earlier one left over.
std::vector<std::string> Outcome(const std::vector<SeenHost>& earlier,
                                 const std::vector<SeenHost>& current) {
  const SweepComparison comparison = CompareSweeps(earlier, current);
  std::vector<std::string> outcome;
  for (const auto& match : comparison.current) {
    const RowChange row = RowChangeOf(match, earlier);
    outcome.push_back(std::string(ChangeText(row.change)) +
                      (row.previous.empty() ? "" : " " + row.previous));
  }
  for (const std::size_t index : comparison.unmatched) {
    outcome.push_back("gone " + AddressText(earlier[index]));
  }
  return outcome;
}

struct Case {
  const char* what;
  std::vector<SeenHost> earlier;
  std::vector<SeenHost> current;
  std::vector<std::string> outcome;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }

class Matching : public ::testing::TestWithParam<Case> {};

TEST_P(Matching, CallsEachHostWhatChanged) {
  EXPECT_EQ(Outcome(GetParam().earlier, GetParam().current), GetParam().outcome) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    BeforeAndAfter, Matching,
    ::testing::Values(Case{"unchanged", {Host(5, "nas", kLaptop)}, {Host(5, "nas", kLaptop)}, {""}},
                      Case{"appeared and left",
                           {Host(5, "nas", kLaptop)},
                           {Host(6, "tv", kPrinter)},
                           {"new", "gone 10.0.0.5"}},
                      Case{"DHCP gave the laptop another address",
                           {Host(23, "laptop", kLaptop)},
                           {Host(41, "", kLaptop)},
                           {"moved 10.0.0.23"}},
                      Case{"same device, new name",
                           {Host(5, "old", kLaptop)},
                           {Host(5, "new", kLaptop)},
                           {"renamed old"}},
                      Case{"another device at the address",
                           {Host(5, "nas", kLaptop)},
                           {Host(5, "nas", kPrinter)},
                           {"mac-changed 00:1a:2b:3c:4d:01"}},
                      Case{"two hosts swapped addresses: each moved",
                           {Host(1, "a", kLaptop), Host(2, "b", kPrinter)},
                           {Host(1, "b", kPrinter), Host(2, "a", kLaptop)},
                           {"moved 10.0.0.2", "moved 10.0.0.1"}},
                      Case{"two MAC-less hosts swapped addresses: told apart by name",
                           {Host(1, "a", std::nullopt), Host(2, "b", std::nullopt)},
                           {Host(1, "b", std::nullopt), Host(2, "a", std::nullopt)},
                           {"moved 10.0.0.2", "moved 10.0.0.1"}},
                      Case{"a randomised MAC that changes is the same host by address and name",
                           {Host(7, "phone", kPhoneToday)},
                           {Host(7, "phone", kPhoneLater)},
                           {""}},
                      Case{"a randomised MAC never matches by itself",
                           {Host(7, "phone", kPhoneToday)},
                           {Host(8, "other", kPhoneToday)},
                           {"new", "gone 10.0.0.7"}},
                      Case{"a randomised host moved under its name",
                           {Host(7, "phone", kPhoneToday)},
                           {Host(9, "phone", kPhoneLater)},
                           {"moved 10.0.0.7"}},
                      Case{"a routed host (no MAC) renamed",
                           {Host(3, "www", std::nullopt)},
                           {Host(3, "web", std::nullopt)},
                           {"renamed www"}},
                      Case{"a NetBIOS unit ID that disagrees with the link is no replaced device",
                           {Host(4, "pc", kLaptop, MacSource::kNetbios)},
                           {Host(4, "pc", kPrinter)},
                           {""}},
                      Case{"a unit ID equal to the link's MAC is the same device elsewhere",
                           {Host(4, "pc", kLaptop, MacSource::kNetbios)},
                           {Host(6, "pc", kLaptop, MacSource::kArp)},
                           {"moved 10.0.0.4"}},
                      Case{"the same name on another device is not a move",
                           {Host(5, "nas", kLaptop)},
                           {Host(6, "nas", kPrinter)},
                           {"new", "gone 10.0.0.5"}},
                      Case{"a device's MAC found later matches by address and name",
                           {Host(5, "nas", std::nullopt)},
                           {Host(5, "nas", kLaptop)},
                           {""}},
                      Case{"a new model under the same MAC, address and name",
                           {Typed(Host(5, "lp", kPrinter), "printer", "HL-2270")},
                           {Typed(Host(5, "lp", kPrinter), "printer", "HL-L2350DW")},
                           {"retyped printer/HL-2270"}},
                      Case{"a camera in a MAC-less box's place and name",
                           {Typed(Host(5, "box", std::nullopt), "general purpose", "")},
                           {Typed(Host(5, "box", std::nullopt), "webcam", "")},
                           {"retyped general purpose"}},
                      Case{"a type never identifies: moved and retyped is moved",
                           {Typed(Host(5, "lp", kPrinter), "printer", "")},
                           {Typed(Host(6, "lp", kPrinter), "router", "")},
                           {"moved 10.0.0.5"}},
                      Case{"a device silent about itself this time has not changed",
                           {Typed(Host(5, "lp", kPrinter), "printer", "HL-2270")},
                           {Typed(Host(5, "lp", kPrinter), "", "")},
                           {""}},
                      Case{"IPv6-only hosts with randomised MACs are known by their addresses",
                           {Ipv6Only("2001:db8::7", kPhoneToday),
                            Ipv6Only("2001:db8::8", kPhoneToday)},
                           {Ipv6Only("2001:db8::8", kPhoneLater)},
                           {"", "gone 2001:db8::7"}}),
    testing::kNumberedName);

// --watch matches hosts that come back by the same rounds.
struct Return {
  const char* what;
  SeenHost before;
  SeenHost after;
  std::string told;  // on its return
};

void PrintTo(const Return& c, std::ostream* os) { *os << c.what; }

class ReturningHost : public ::testing::TestWithParam<Return> {};

// Seen, away for a round, back (moved, when its device MAC answers at
// another address), under the record it had.
TEST_P(ReturningHost, KeepsWhenItWasFirstSeen) {
  const auto& [what, before, after, back] = GetParam();
  const SweepScope swept({before.address, after.address}, false);
  WatchBook book;
  std::string told;
  const std::vector<std::vector<SeenHost>> rounds{{before}, {}, {after}};
  for (std::size_t round = 0; round < rounds.size(); ++round) {
    for (const auto& event :
         WatchRound(book, rounds[round], swept, static_cast<std::int64_t>(round))) {
      told += std::string(ChangeText(event.change)) + "@" + std::to_string(event.firstSeen) +
              (event.previous.empty() ? "" : " was " + event.previous) + " ";
    }
  }
  EXPECT_EQ(told, "new@0 gone@0 " + back) << what;
  EXPECT_EQ(book.known.size(), 1U) << what;
}

INSTANTIATE_TEST_SUITE_P(
    AwayForARound, ReturningHost,
    ::testing::Values(Return{"renamed", Host(3, "www", std::nullopt), Host(3, "web", std::nullopt),
                             "back@0 "},
                      Return{"another NetBIOS unit ID", Host(4, "pc", kLaptop, MacSource::kNetbios),
                             Host(4, "pc", kPrinter), "back@0 "},
                      Return{"moved with its MAC", Host(5, "nas", kLaptop), Host(9, "", kLaptop),
                             "moved@0 was 10.0.0.5 "},
                      Return{"moved by its name alone", Host(5, "nas", std::nullopt),
                             Host(9, "nas", std::nullopt), "back@0 "},
                      Return{"a randomised MAC drawn anew", Host(7, "phone", kPhoneToday),
                             Host(7, "phone", kPhoneLater), "back@0 "}),
    testing::kNumberedName);

// Told apart by their addresses, and gone only from a sweep that asked over IPv6.
TEST(WatchRounds, KnowIpv6OnlyDevicesByTheirAddresses) {
  const SeenHost first{.mac = kPhoneToday, .ipv6 = "2001:db8::7"};
  const SeenHost second{.mac = kPhoneToday, .ipv6 = "2001:db8::8"};
  WatchBook book;
  std::int64_t now = 0;
  const auto told = [&](const std::vector<SeenHost>& found, bool ipv6) {
    std::string text;
    for (const auto& event : WatchRound(book, found, SweepScope({}, ipv6), now++)) {
      text += std::string(ChangeText(event.change)) + " " + AddressText(event.host) + "@" +
              std::to_string(event.firstSeen) + " ";
    }
    return text;
  };
  EXPECT_EQ(told({first}, true), "new 2001:db8::7@0 ");
  EXPECT_EQ(told({}, false), "");
  EXPECT_EQ(told({second}, true), "new 2001:db8::8@2 gone 2001:db8::7@0 ");
  EXPECT_EQ(told({first}, true), "back 2001:db8::7@0 gone 2001:db8::8@2 ");
}

struct LineCase {
  const char* what;
  WatchLineForm form;
  WatchEvent event;
  KnownFacts facts;  // the inventory's
  std::string line;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.what; }

class WatchLines : public ::testing::TestWithParam<LineCase> {};

// Piped, tab-separated in UTC whatever the zone, every field in its place,
// so that a script splits them alike; on a terminal lined up in local time.
TEST_P(WatchLines, KeepTheirFieldsInPlace) {
  const LocalZone twoHoursEast("XST-2");
  const VendorOf vendorOf = [](const MacAddress&) { return std::string("Maker"); };
  EXPECT_EQ(WatchLine(GetParam().event, vendorOf, GetParam().form, GetParam().facts),
            GetParam().line)
      << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Watch, WatchLines,
    ::testing::Values(
        LineCase{"a renamed host",
                 WatchLineForm::kTabs,
                 {.when = 60,
                  .change = Change::kRenamed,
                  .host = Host(5, "web", kLaptop),
                  .previous = "www"},
                 {},
                 "1970-01-01T00:01:00Z\trenamed\t10.0.0.5\tweb\t00:1a:2b:3c:4d:01\tMaker\twww\t"
                 "1970-01-01T00:00:00Z\t\t"},
        LineCase{"a retyped host",
                 WatchLineForm::kTabs,
                 {.when = 60,
                  .change = Change::kRetyped,
                  .host = Typed(Host(5, "lp", kPrinter), "printer", "HL-L2350DW"),
                  .previous = DeviceText("printer", "HL-2270")},
                 {},
                 "1970-01-01T00:01:00Z\tretyped\t10.0.0.5\tlp\t00:1a:2b:3c:4d:02\tMaker\t"
                 "printer/HL-2270\t1970-01-01T00:00:00Z\t\t"},
        LineCase{"a nameless host",
                 WatchLineForm::kTabs,
                 {.when = 60, .change = Change::kNew, .host = Host(6, "", kPrinter)},
                 {},
                 "1970-01-01T00:01:00Z\tnew\t10.0.0.6\t\t00:1a:2b:3c:4d:02\tMaker\t\t"
                 "1970-01-01T00:00:00Z\t\t"},
        LineCase{"a device of the inventory's",
                 WatchLineForm::kTabs,
                 {.when = 60, .change = Change::kMissing, .host = Host(6, "", kPrinter)},
                 {.known = true, .alias = "hall printer", .owner = "office"},
                 "1970-01-01T00:01:00Z\tmissing\t10.0.0.6\t\t00:1a:2b:3c:4d:02\tMaker\t\t"
                 "1970-01-01T00:00:00Z\thall printer\toffice"},
        LineCase{"a device of the inventory's on a terminal",
                 WatchLineForm::kAligned,
                 {.when = 60,
                  .change = Change::kMissing,
                  .host = Host(6, "", kPrinter),
                  .firstSeen = 60},
                 {.known = true, .alias = "hall printer", .owner = "office"},
                 "1970-01-01 02:01:00  missing      10.0.0.6         hall printer      "
                 "00:1a:2b:3c:4d:02  Maker  owner office"},
        LineCase{"a renamed host on a terminal",
                 WatchLineForm::kAligned,
                 {.when = 60,
                  .change = Change::kRenamed,
                  .host = Host(5, "web", kLaptop),
                  .previous = "www"},
                 {},
                 "1970-01-01 02:01:00  renamed      10.0.0.5         web               "
                 "00:1a:2b:3c:4d:01  Maker  was www  first seen 1970-01-01 02:00:00"},
        LineCase{
            "a new nameless host on a terminal",
            WatchLineForm::kAligned,
            {.when = 60, .change = Change::kNew, .host = Host(6, "", kPrinter), .firstSeen = 60},
            {},
            "1970-01-01 02:01:00  new          10.0.0.6                           "
            "00:1a:2b:3c:4d:02  Maker"}),
    testing::kNumberedName);

TEST(WatchHeartbeat, CountsTheSweep) {
  EXPECT_EQ(Heartbeat(43205, 254, 18, 0), "hostsweep: 12:00:05 254 swept, 18 found, 0 changes");
  EXPECT_EQ(Heartbeat(43205, 1, 1, 1), "hostsweep: 12:00:05 1 swept, 1 found, 1 change");
  const LocalZone twoHoursEast("XST-2");
  EXPECT_EQ(Heartbeat(43205, 1, 1, 1, TimeZone::kLocal),
            "hostsweep: 14:00:05 1 swept, 1 found, 1 change");
}

}  // namespace
}  // namespace hostsweep::controller
