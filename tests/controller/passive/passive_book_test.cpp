// What the watch makes of sightings: a device shown once a while, what its
// DHCP messages named it carried on, and the claims no one host explains
// said as conflicts, once, and never shown as a device.
#include "controller/passive/passive_book.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

constexpr Address kCharlie = 0x0ad5000c;  // present, at kCharlieMac
const MacAddress kCharlieMac{0x70, 0xb3, 0xd5, 0xf2, 0xf0, 0x0c};
const MacAddress kVisitor{0x00, 0x1a, 0x2b, 0x0d, 0x0c, 0x01};
const MacAddress kForger{0x02, 0x00, 0x5e, 0x66, 0x66, 0x66};
constexpr Address kFree = 0x0ad50cc9;

struct Heard {
  Sighting sighting;
  std::int64_t at;
};

Heard Arp(const MacAddress& mac, Address address, std::int64_t at) {
  return {{.seenBy = SeenBy::kPassiveArp, .mac = mac, .address = address}, at};
}

Heard Discover(const MacAddress& mac, const std::string& name, std::int64_t at,
               const std::string& vendorClass = {}) {
  return {{.seenBy = SeenBy::kDhcp, .mac = mac, .hostName = name, .vendorClass = vendorClass}, at};
}

// The verdict on the last sighting, as a line.
std::string Said(const PassiveVerdict& verdict) {
  if (const auto* host = std::get_if<SeenHost>(&verdict)) {
    return "host " + FormatAddress(host->address) + " " + FormatMac(*host->mac) + " " +
           (host->name.empty() ? "-" : host->name) + (host->type.empty() ? "" : " " + host->type) +
           " by " + std::string(SeenByText(*host->seenBy));
  }
  if (const auto* conflict = std::get_if<LinkConflict>(&verdict)) {
    return conflict->otherMac ? "conflict " + FormatAddress(*conflict->address) + " " +
                                    FormatMac(conflict->mac) + " " + FormatMac(*conflict->otherMac)
                              : "conflict " + FormatMac(conflict->mac) + " for " +
                                    std::to_string(conflict->addresses);
  }
  return "nothing";
}

struct BookCase {
  const char* what;
  std::vector<Heard> heard;
  std::string said;  // of the last
};

void PrintTo(const BookCase& c, std::ostream* os) { *os << c.what; }

class Weighed : public ::testing::TestWithParam<BookCase> {};

TEST_P(Weighed, ShowsADeviceOnlyWhereNoOneElseHoldsItsAddress) {
  const BookCase& c = GetParam();
  const DeviceRules rules =
      DeviceRules::Parse("10\tdhcp:vendorClass=android-dhcp-*\tphone\t-\t-\n");
  PassiveBook book(&rules);
  const HolderOf present = [](Address address) {
    return address == kCharlie ? std::optional(kCharlieMac) : std::nullopt;
  };
  PassiveVerdict verdict;
  for (const Heard& heard : c.heard) {
    verdict = book.Weigh(heard.sighting, present, heard.at);
  }
  EXPECT_EQ(Said(verdict), c.said);
}

std::vector<Heard> NineAddresses() {
  std::vector<Heard> heard;
  for (Address i = 0; i < 9; ++i) {
    heard.push_back(Arp(kForger, kFree + i, 0));
  }
  return heard;
}

INSTANTIATE_TEST_SUITE_P(
    Passive, Weighed,
    ::testing::Values(
        BookCase{"a device never heard",
                 {Arp(kVisitor, kFree, 0)},
                 "host 10.213.12.201 00:1a:2b:0d:0c:01 - by passive-arp"},
        BookCase{"heard again within the quiet time",
                 {Arp(kVisitor, kFree, 0), Arp(kVisitor, kFree, kQuietAfterSighting - 1)},
                 "nothing"},
        BookCase{"heard again after it",
                 {Arp(kVisitor, kFree, 0), Arp(kVisitor, kFree, kQuietAfterSighting)},
                 "host 10.213.12.201 00:1a:2b:0d:0c:01 - by passive-arp"},
        BookCase{"heard at a second address at once",
                 {Arp(kVisitor, kFree, 0), Arp(kVisitor, kFree + 1, 1)},
                 "host 10.213.12.202 00:1a:2b:0d:0c:01 - by passive-arp"},
        BookCase{
            "a DHCP DISCOVER alone, no address yet", {Discover(kVisitor, "visitor", 0)}, "nothing"},
        BookCase{"the name its DISCOVER gave, on its next ARP",
                 {Discover(kVisitor, "visitor", 0), Arp(kVisitor, kFree, 1)},
                 "host 10.213.12.201 00:1a:2b:0d:0c:01 visitor by passive-arp"},
        BookCase{"the type its DHCP vendor class gives, by the rules",
                 {Discover(kVisitor, "visitor", 0, "android-dhcp-14"), Arp(kVisitor, kFree, 1)},
                 "host 10.213.12.201 00:1a:2b:0d:0c:01 visitor phone by passive-arp"},
        BookCase{"a vendor class no rule knows",
                 {Discover(kVisitor, "visitor", 0, "udhcp 1.35.0"), Arp(kVisitor, kFree, 1)},
                 "host 10.213.12.201 00:1a:2b:0d:0c:01 visitor by passive-arp"},
        BookCase{"a present device's address from another MAC",
                 {Arp(kForger, kCharlie, 0)},
                 "conflict 10.213.0.12 70:b3:d5:f2:f0:0c 02:00:5e:66:66:66"},
        BookCase{"that conflict again",
                 {Arp(kForger, kCharlie, 0), Arp(kForger, kCharlie, 40)},
                 "nothing"},
        BookCase{"the present device itself",
                 {Arp(kCharlieMac, kCharlie, 0)},
                 "host 10.213.0.12 70:b3:d5:f2:f0:0c - by passive-arp"},
        BookCase{"an address another MAC claimed a moment ago",
                 {Arp(kVisitor, kFree, 0), Arp(kForger, kFree, 1)},
                 "conflict 10.213.12.201 00:1a:2b:0d:0c:01 02:00:5e:66:66:66"},
        BookCase{"an address another MAC claimed long ago",
                 {Arp(kVisitor, kFree, 0), Arp(kForger, kFree, kQuietAfterSighting)},
                 "host 10.213.12.201 02:00:5e:66:66:66 - by passive-arp"},
        BookCase{"a MAC claiming more addresses than a host holds", NineAddresses(),
                 "conflict 02:00:5e:66:66:66 for 9"}),
    [](const auto& info) { return testing::CaseName(info.param.what); });

// A flood of forged frames, each from a MAC never heard: what is remembered
// stays bounded however many come.
TEST(PassiveFlood, RemembersABoundedNumberOfDevices) {
  PassiveBook book;
  const HolderOf none = [](Address) { return std::optional<MacAddress>{}; };
  constexpr std::uint32_t kFrames = 100'000;
  std::size_t most = 0;
  for (std::uint32_t i = 0; i < kFrames; ++i) {
    const MacAddress mac{0x02,
                         0,
                         static_cast<std::uint8_t>(i >> 16U),
                         static_cast<std::uint8_t>(i >> 8U),
                         static_cast<std::uint8_t>(i),
                         1};
    book.Weigh(Arp(mac, kFree + i, 0).sighting, none, i / 1000);
    most = std::max(most, book.Remembered());
  }
  EXPECT_LE(most, 2 * kMostRemembered);
  EXPECT_GT(most, 0U);
}

// A flood of forged claims on one present address, each from a MAC never
// heard: a bounded number of conflicts said a minute, not one a frame.
TEST(PassiveFlood, SaysABoundedNumberOfConflictsAMinute) {
  PassiveBook book;
  const HolderOf charlie = [](Address) { return std::optional(kCharlieMac); };
  constexpr std::uint32_t kFrames = 10'000;
  constexpr std::int64_t kMinutes = 2;
  int said = 0;
  for (std::uint32_t i = 0; i < kFrames; ++i) {
    const MacAddress mac{
        0x02, 0, 0, static_cast<std::uint8_t>(i >> 8U), static_cast<std::uint8_t>(i), 1};
    const auto verdict = book.Weigh(Arp(mac, kCharlie, 0).sighting, charlie,
                                    static_cast<std::int64_t>(i) * kMinutes * 60 / kFrames);
    said += std::holds_alternative<LinkConflict>(verdict) ? 1 : 0;
  }
  EXPECT_EQ(said, kMinutes * kMostConflictsPerMinute);
}

}  // namespace
}  // namespace hostsweep::controller
