#include "controller/history/missing_devices.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace hostsweep::controller {
namespace {

constexpr const char* kHeader = "mac,address,alias,owner,expect,note\n";

// A dual-stack phone: a randomised MAC, and its IPv6 addresses beside its
// IPv4 one (--ipv6).
HostView Phone() {
  return {.address = 0x0A000007,
          .state = State::kAlive,
          .mac = MacAddress{0x5A, 0, 0, 0, 0, 0x07},
          .macSource = MacSource::kArp,
          .ipv6 = {"2001:db8::7", "fe80::7%br0"}};
}

HostView Ipv6Only() {
  return {.state = State::kAlive,
          .mac = MacAddress{0x00, 0x1A, 0, 0, 0, 0x08},
          .macSource = MacSource::kNeighbour,
          .ipv6 = {"2001:db8::8"},
          .ipv6Only = true};
}

struct PresenceCase {
  const char* name;
  std::string row;  // the inventory's one row, expected always
  HostView found;
  bool present;  // the row is the device found: on its row, and never missing
};

void PrintTo(const PresenceCase& c, std::ostream* os) { *os << c.name; }

class ExpectedDevice : public ::testing::TestWithParam<PresenceCase> {};

TEST_P(ExpectedDevice, IsMissingExactlyWhenItsRowShowsNoHost) {
  const Inventory inventory = ParseInventory(kHeader + GetParam().row + ",,,always,\n");
  const SeenHost found = SeenHostOf(GetParam().found);
  const auto missing =
      MissingDevices(inventory, {found}, SweepScope({0x0A000007}, /*ipv6=*/true), {found});
  EXPECT_EQ(inventory.FactsOf(GetParam().found).known, GetParam().present);
  EXPECT_EQ(missing.empty(), GetParam().present);
}

INSTANTIATE_TEST_SUITE_P(
    Inventory, ExpectedDevice,
    ::testing::Values(
        PresenceCase{"DualStackByGlobalIpv6", ",2001:db8::7", Phone(), true},
        PresenceCase{"DualStackByLinkLocalIpv6", ",fe80::7%br0", Phone(), true},
        PresenceCase{"DualStackByIpv4", ",10.0.0.7", Phone(), true},
        PresenceCase{"RandomisedMacRowByItsAddress", "5a:00:00:00:00:99,10.0.0.7", Phone(), true},
        PresenceCase{"Ipv6OnlyByItsAddress", ",2001:db8::8", Ipv6Only(), true},
        PresenceCase{"Ipv6OnlyByItsMac", "00:1a:00:00:00:08,", Ipv6Only(), true},
        PresenceCase{"AnotherDeviceAtItsIpv6Address", ",2001:db8::9", Phone(), false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hostsweep::controller
