#include "controller/history/watch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

struct Return {
  const char* what;
  SeenHost before;
  SeenHost after;
};

class ReturningHost : public ::testing::TestWithParam<Return> {};

// Seen, away for a round, back: new again, under the record it had.
TEST_P(ReturningHost, KeepsWhenItWasFirstSeen) {
  const auto& [what, before, after] = GetParam();
  const SweepScope swept({before.address, after.address}, false);
  std::vector<KnownHost> known;
  std::string told;
  const std::vector<std::vector<SeenHost>> rounds{{before}, {}, {after}};
  for (std::size_t round = 0; round < rounds.size(); ++round) {
    for (const auto& event :
         WatchRound(known, rounds[round], swept, static_cast<std::int64_t>(round))) {
      told += std::string(ChangeText(event.change)) + "@" + std::to_string(event.firstSeen) + " ";
    }
  }
  EXPECT_EQ(told, "new@0 gone@0 new@0 ") << what;
  EXPECT_EQ(known.size(), 1U) << what;
}

INSTANTIATE_TEST_SUITE_P(
    AwayForARound, ReturningHost,
    ::testing::Values(Return{"renamed", Host(3, "www", std::nullopt), Host(3, "web", std::nullopt)},
                      Return{"another NetBIOS unit ID", Host(4, "pc", kLaptop, MacSource::kNetbios),
                             Host(4, "pc", kPrinter)},
                      Return{"moved with its MAC", Host(5, "nas", kLaptop), Host(9, "", kLaptop)},
                      Return{"a randomised MAC drawn anew", Host(7, "phone", kPhoneToday),
                             Host(7, "phone", kPhoneLater)}));

// Told apart by their addresses, and gone only from a sweep that asked over IPv6.
TEST(WatchRounds, KnowIpv6OnlyDevicesByTheirAddresses) {
  const SeenHost first{.mac = kPhoneToday, .ipv6 = "2001:db8::7"};
  const SeenHost second{.mac = kPhoneToday, .ipv6 = "2001:db8::8"};
  std::vector<KnownHost> known;
  std::int64_t now = 0;
  const auto told = [&](const std::vector<SeenHost>& found, bool ipv6) {
    std::string text;
    for (const auto& event : WatchRound(known, found, SweepScope({}, ipv6), now++)) {
      text += std::string(ChangeText(event.change)) + " " + AddressText(event.host) + "@" +
              std::to_string(event.firstSeen) + " ";
    }
    return text;
  };
  EXPECT_EQ(told({first}, true), "new 2001:db8::7@0 ");
  EXPECT_EQ(told({}, false), "");
  EXPECT_EQ(told({second}, true), "new 2001:db8::8@2 gone 2001:db8::7@0 ");
  EXPECT_EQ(told({first}, true), "new 2001:db8::7@0 gone 2001:db8::8@2 ");
}

}  // namespace
}  // namespace hostsweep::controller
