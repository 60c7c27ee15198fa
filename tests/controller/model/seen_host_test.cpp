#include "controller/model/seen_host.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "controller/model/json_fields.h"
#include "controller/notify/mqtt_messages.h"

namespace hostsweep::controller {
namespace {

constexpr MacAddress kGlobal{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x01};
constexpr MacAddress kRandomised{0x5A, 0x1A, 0x2B, 0x3C, 0x4D, 0x01};

constexpr Address kAt = 0x0A000007;
const std::vector<std::string> kIpv4{"10.0.0.7"};
const std::vector<std::string> kIpv6{"2001:db8::7", "fe80::7%br0"};

struct KeyCase {
  const char* name;
  SeenHost host;
  HostKeys expected;
  std::size_t sharers = 0;  // hosts at the next addresses under its MAC, counted as read back
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class HostKey : public ::testing::TestWithParam<KeyCase> {};

// The key, whose MAC alone ties a discovery config to its device's others.
TEST_P(HostKey, IsTheDeviceMacElseTheAddresses) {
  std::vector<SeenHost> hosts(GetParam().sharers + 1, GetParam().host);
  std::vector<SeenHost*> all;
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    hosts[i].address += static_cast<Address>(i);
    all.push_back(&hosts[i]);
  }
  CountSharedMacs(all);
  const HostKeys keys = KeysOf(hosts.front());
  EXPECT_EQ(keys.mac, GetParam().expected.mac);
  EXPECT_EQ(keys.addresses, GetParam().expected.addresses);
  const auto& mac = GetParam().expected.mac;
  const Json tie = mac ? Json::array({Json::array({"mac", FormatMac(*mac)})}) : Json();
  for (const SeenHost& host : {hosts.front(), hosts.back()}) {
    const Json config = Json::parse(DiscoveryJson("site", {.id = 1, .host = host}));
    EXPECT_EQ(config.at("device").value("connections", Json()), tie);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Identity, HostKey,
    ::testing::Values(
        KeyCase{"GlobalMacOfTwoAddresses", {.address = kAt, .mac = kGlobal}, {kGlobal, kIpv4}, 1},
        KeyCase{"MacAProxyAnswersWithForNine", {.address = kAt, .mac = kGlobal}, {{}, kIpv4}, 8},
        KeyCase{"RandomisedMac", {.address = kAt, .mac = kRandomised}, {{}, kIpv4}},
        KeyCase{"NoMac", {.address = kAt}, {{}, kIpv4}},
        KeyCase{"DualStackIpv6AfterIpv4",
                {.address = kAt, .mac = kRandomised, .deviceIpv6 = kIpv6},
                {{}, {"10.0.0.7", "2001:db8::7", "fe80::7%br0"}}},
        KeyCase{"Ipv6OnlyRowAddressOnce",
                {.mac = kGlobal, .ipv6 = "2001:db8::7", .deviceIpv6 = kIpv6},
                {kGlobal, kIpv6}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hostsweep::controller
