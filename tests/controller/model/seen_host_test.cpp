#include "controller/model/seen_host.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace hostsweep::controller {
namespace {

constexpr MacAddress kGlobal{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x01};
constexpr MacAddress kRandomised{0x5A, 0x1A, 0x2B, 0x3C, 0x4D, 0x01};
constexpr MacAddress kPlaceholder{};

struct KeyCase {
  const char* what;
  SeenHost host;
  HostKeys expected;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.what; }

class HostKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(HostKey, IsTheDeviceMacElseTheAddresses) {
  const HostKeys keys = KeysOf(GetParam().host);
  EXPECT_EQ(keys.mac, GetParam().expected.mac);
  EXPECT_EQ(keys.addresses, GetParam().expected.addresses);
}

INSTANTIATE_TEST_SUITE_P(
    Identity, HostKey,
    ::testing::Values(
        KeyCase{"GlobalMac", {.address = 0x0A000007, .mac = kGlobal}, {kGlobal, {"10.0.0.7"}}},
        KeyCase{"RandomisedMac", {.address = 0x0A000007, .mac = kRandomised}, {{}, {"10.0.0.7"}}},
        KeyCase{"PlaceholderMac", {.address = 0x0A000007, .mac = kPlaceholder}, {{}, {"10.0.0.7"}}},
        KeyCase{"NoMac", {.address = 0x0A000007}, {{}, {"10.0.0.7"}}},
        KeyCase{"MacAProxyAnswersWithForMany",
                {.address = 0x0A000007, .mac = kGlobal, .macSharedBy = 50},
                {{}, {"10.0.0.7"}}},
        KeyCase{"DualStackIpv6AfterIpv4",
                {.address = 0x0A000007,
                 .mac = kRandomised,
                 .deviceIpv6 = {"2001:db8::7", "fe80::7%br0"}},
                {{}, {"10.0.0.7", "2001:db8::7", "fe80::7%br0"}}},
        KeyCase{
            "Ipv6OnlyRowAddressOnce",
            {.mac = kGlobal, .ipv6 = "2001:db8::7", .deviceIpv6 = {"2001:db8::7", "fe80::7%br0"}},
            {kGlobal, {"2001:db8::7", "fe80::7%br0"}}}),
    [](const auto& info) { return std::string(info.param.what); });

// What kept no count counts again: more hosts under one MAC than a host
// holds addresses, and the MAC names none of them.
TEST(CountSharedMacs, MarksOnlyMacsBeyondAHostsAddresses) {
  std::vector<SeenHost> hosts;
  for (Address last = 1; last <= kMostAddressesPerHost + 1; ++last) {
    hosts.push_back({.address = 0x0A000000 + last, .mac = kGlobal});
  }
  hosts.push_back({.address = 0x0A000064, .mac = kRandomised});
  std::vector<SeenHost*> all;
  for (SeenHost& host : hosts) {
    all.push_back(&host);
  }
  CountSharedMacs(all);
  EXPECT_EQ(hosts.front().macSharedBy, kMostAddressesPerHost + 1);
  EXPECT_FALSE(DeviceMac(hosts.front()));
  EXPECT_FALSE(hosts.back().macSharedBy);
  all.resize(kMostAddressesPerHost);
  hosts.front().macSharedBy.reset();
  CountSharedMacs(all);
  EXPECT_EQ(DeviceMac(hosts.front()), kGlobal);
}

}  // namespace
}  // namespace hostsweep::controller
