// The neighbour table's rtnetlink entries, read from canned messages: which
// entries count, what each says, and that malformed ones are passed over.
#include "controller/system/posix/neighbour_table.h"

#include <gtest/gtest.h>
#include <linux/neighbour.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "tests/controller/system/netlink_message.h"

namespace hostsweep::controller {
namespace {

constexpr Address kHost = 0x0A000007;
const std::array<unsigned char, 6> kMac{0x00, 0x22, 0x72, 0x00, 0x00, 0x07};
const long kTicksPerSecond = sysconf(_SC_CLK_TCK);

struct EntryCase {
  const char* name;
  unsigned char family;
  unsigned short state;
  bool destination;
  std::size_t macBytes;
  std::optional<unsigned> confirmedTicksAgo;
  bool counts;
};

void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.name; }

class NeighbourMessage : public ::testing::TestWithParam<EntryCase> {};

TEST_P(NeighbourMessage, GivesOnlyUsableIpv4EntriesWithAnEthernetAddress) {
  const auto& c = GetParam();
  ndmsg fixed{};
  fixed.ndm_family = c.family;
  fixed.ndm_state = c.state;
  fixed.ndm_ifindex = 3;
  Message message(RTM_NEWNEIGH, fixed);
  if (c.destination) {
    message.Ipv4(NDA_DST, kHost);
  }
  message.Attribute(NDA_LLADDR, kMac.data(), c.macBytes);
  if (c.confirmedTicksAgo) {
    nda_cacheinfo info{};
    info.ndm_confirmed = *c.confirmedTicksAgo;
    message.Attribute(NDA_CACHEINFO, &info, sizeof info);
  }
  const auto entry = NeighbourEntryOf(*message.Get());
  ASSERT_EQ(entry.has_value(), c.counts);
  if (!entry) {
    return;
  }
  EXPECT_EQ(entry->address, kHost);
  EXPECT_EQ(FormatMac(entry->mac), "00:22:72:00:00:07");
  EXPECT_EQ(entry->reachable, c.state == NUD_REACHABLE);
  EXPECT_EQ(entry->sinceConfirmed.has_value(), c.confirmedTicksAgo.has_value());
  if (c.confirmedTicksAgo) {
    // At most: the kernel cuts its ages to whole ticks.
    const auto tick = std::chrono::milliseconds(1000 / kTicksPerSecond);
    EXPECT_EQ(*entry->sinceConfirmed, tick * (*c.confirmedTicksAgo + 1));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Netlink, NeighbourMessage,
    ::testing::Values(EntryCase{"Reachable", AF_INET, NUD_REACHABLE, true, 6, std::nullopt, true},
                      EntryCase{"StaleWithItsAge", AF_INET, NUD_STALE, true, 6, 300, true},
                      EntryCase{"Permanent", AF_INET, NUD_PERMANENT, true, 6, std::nullopt, true},
                      EntryCase{"StillResolving", AF_INET, NUD_INCOMPLETE, true, 6, 0, false},
                      EntryCase{"Failed", AF_INET, NUD_FAILED, true, 6, 0, false},
                      EntryCase{"Ipv6", AF_INET6, NUD_REACHABLE, true, 6, 0, false},
                      EntryCase{"NoDestination", AF_INET, NUD_REACHABLE, false, 6, 0, false},
                      EntryCase{"ShortLinkAddress", AF_INET, NUD_REACHABLE, true, 2, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct Ipv6EntryCase {
  const char* name;
  unsigned char family;
  unsigned short state;
  std::size_t destinationBytes;
  std::size_t macBytes;
  bool counts;
};

void PrintTo(const Ipv6EntryCase& c, std::ostream* os) { *os << c.name; }

class Ipv6NeighbourMessage : public ::testing::TestWithParam<Ipv6EntryCase> {};

TEST_P(Ipv6NeighbourMessage, GivesOnlyUsableIpv6EntriesWithTheirInterface) {
  const auto& c = GetParam();
  const std::array<unsigned char, 16> host{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0,
                                           0,    0,    0,    0,    0, 0, 0, 0x20};
  ndmsg fixed{};
  fixed.ndm_family = c.family;
  fixed.ndm_state = c.state;
  fixed.ndm_ifindex = 3;
  Message message(RTM_NEWNEIGH, fixed);
  message.Attribute(NDA_DST, host.data(), c.destinationBytes);
  message.Attribute(NDA_LLADDR, kMac.data(), c.macBytes);
  const auto entry = Ipv6NeighbourEntryOf(*message.Get());
  ASSERT_EQ(entry.has_value(), c.counts);
  if (entry) {
    EXPECT_TRUE(std::equal(host.begin(), host.end(), entry->address.begin()));
    EXPECT_EQ(entry->interfaceIndex, 3);
    EXPECT_EQ(FormatMac(entry->mac), "00:22:72:00:00:07");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Netlink, Ipv6NeighbourMessage,
    ::testing::Values(Ipv6EntryCase{"Reachable", AF_INET6, NUD_REACHABLE, 16, 6, true},
                      Ipv6EntryCase{"Stale", AF_INET6, NUD_STALE, 16, 6, true},
                      Ipv6EntryCase{"StillResolving", AF_INET6, NUD_INCOMPLETE, 16, 6, false},
                      Ipv6EntryCase{"Ipv4", AF_INET, NUD_REACHABLE, 4, 6, false},
                      Ipv6EntryCase{"ShortDestination", AF_INET6, NUD_REACHABLE, 4, 6, false},
                      Ipv6EntryCase{"NoLinkAddress", AF_INET6, NUD_REACHABLE, 16, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NeighbourMessage, ShorterThanItsFixedPartGivesNothing) {
  const std::array<unsigned char, 2> fixed{};
  EXPECT_FALSE(NeighbourEntryOf(*Message(RTM_NEWNEIGH, fixed).Get()).has_value());
  EXPECT_FALSE(Ipv6NeighbourEntryOf(*Message(RTM_NEWNEIGH, fixed).Get()).has_value());
  EXPECT_FALSE(HoldsTableEntry(*Message(RTM_NEWNEIGH, fixed).Get()));
}

struct HeldCase {
  const char* name;
  unsigned char family;
  unsigned short state;
  long updatedSecondsAgo;
  bool held;
};

void PrintTo(const HeldCase& c, std::ostream* os) { *os << c.name; }

class HeldEntryMessage : public ::testing::TestWithParam<HeldCase> {};

// What a full table's forced clean-up could not take: timed entries whatever
// their age, others only while freshly updated; never permanent ones.
TEST_P(HeldEntryMessage, CountsOnlyWhatTheSystemCannotReclaim) {
  const auto& c = GetParam();
  ndmsg fixed{};
  fixed.ndm_family = c.family;
  fixed.ndm_state = c.state;
  Message message(RTM_NEWNEIGH, fixed);
  message.Ipv4(NDA_DST, kHost);
  nda_cacheinfo info{};
  info.ndm_updated = static_cast<unsigned>(c.updatedSecondsAgo * kTicksPerSecond);
  message.Attribute(NDA_CACHEINFO, &info, sizeof info);
  EXPECT_EQ(HoldsTableEntry(*message.Get()), c.held);
}

INSTANTIATE_TEST_SUITE_P(Netlink, HeldEntryMessage,
                         ::testing::Values(HeldCase{"Resolving", AF_INET, NUD_INCOMPLETE, 0, true},
                                           HeldCase{"Reachable", AF_INET, NUD_REACHABLE, 60, true},
                                           HeldCase{"Probing", AF_INET, NUD_PROBE, 60, true},
                                           HeldCase{"StaleJustNow", AF_INET, NUD_STALE, 4, true},
                                           HeldCase{"StaleLongAgo", AF_INET, NUD_STALE, 6, false},
                                           HeldCase{"Failed", AF_INET, NUD_FAILED, 0, false},
                                           HeldCase{"Permanent", AF_INET, NUD_PERMANENT, 0, false},
                                           HeldCase{"Ipv6", AF_INET6, NUD_REACHABLE, 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Only the IPv4 table's whole statistics, after the kernel's padding, count.
TEST(TableMessage, GivesTheIpv4TablesCountOfEntriesRefused) {
  const auto overflowsOf = [](unsigned char family, std::size_t statsBytes) {
    const ndtmsg fixed{.ndtm_family = family, .ndtm_pad1 = 0, .ndtm_pad2 = 0};
    const ndt_stats stats{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40362};  // table_fulls last
    Message message(RTM_NEWNEIGHTBL, fixed);
    message.Attribute(NDTA_NAME, "arp_cache", 10).Attribute(NDTA_PAD, &fixed, 0);
    return TableOverflowsOf(*message.Attribute(NDTA_STATS, &stats, statsBytes).Get());
  };
  EXPECT_EQ(overflowsOf(AF_INET, sizeof(ndt_stats)), 40362U);
  EXPECT_EQ(overflowsOf(AF_INET6, sizeof(ndt_stats)), std::nullopt);
  EXPECT_EQ(overflowsOf(AF_INET, 0), std::nullopt);
}

}  // namespace
}  // namespace hostsweep::controller
