// --ipv6's joins, from canned answers: each probed row gets the addresses of
// the device with its link MAC, and a device no row has gets its own.
#include "controller/ipv6/ipv6_neighbours.h"

#include <gtest/gtest.h>

#include <sstream>

namespace hostsweep::controller {
namespace {

const MacAddress kDual{0x02, 0, 0, 0, 0, 0x0A};
const MacAddress kIpv4Only{0x02, 0, 0, 0, 0, 0x0B};
const MacAddress kIpv6Only{0x00, 0x22, 0x72, 0, 0, 0x20};
const MacAddress kCrowded{0x02, 0, 0, 0, 0, 0x0C};

TEST(Ipv6Join, RowsGetTheirDevicesAddressesAndTheRestGetRowsOfTheirOwn) {
  const std::vector<Ipv6Neighbour> neighbours{
      {.address = "fe80::a%br0", .mac = kDual, .linkLocal = true},
      {.address = "2001:db8::a", .mac = kDual},
      {.address = "2001:db8::a", .mac = kDual},  // answered twice
      {.address = "fe80::20%br0", .mac = kIpv6Only, .linkLocal = true},
      {.address = "2001:db8::20", .mac = kIpv6Only}};
  // One MAC that answers for more addresses than a host holds.
  std::vector<Ipv6Neighbour> withCrowd = neighbours;
  for (std::size_t i = 0; i <= kMostAddressesPerHost; ++i) {
    withCrowd.push_back({.address = "2001:db8::c" + std::to_string(i), .mac = kCrowded});
  }
  ResultBook book({0x0A000001, 0x0A000002, 0x0A000003});
  book.FileProbeReport("h0,1,64,,");
  book.FileProbeReport("h1,1,64,,");
  book.FileProbeReport("h2,Dead");
  book.FileLink(0, {.mac = kDual});
  book.FileLink(1, {.mac = kIpv4Only});
  bool searchEnded = false;
  Ipv6Stage stage([&] { return searchEnded ? &neighbours : nullptr; });
  stage.Enrich(book, book.TakeFinished());
  // Until the search has ended, the rows it joins wait; the others do not.
  EXPECT_FALSE(book.Ready(0));
  EXPECT_TRUE(book.Ready(2));
  ASSERT_TRUE(stage.Busy());
  searchEnded = true;
  stage.Poll(book, std::chrono::milliseconds{0});
  EXPECT_FALSE(stage.Busy());
  EXPECT_TRUE(book.Ready(0));

  const auto& results = book.Results();
  ASSERT_TRUE(results[0].ipv6.has_value());
  EXPECT_EQ(results[0].ipv6->addresses, (std::vector<std::string>{"2001:db8::a", "fe80::a%br0"}));
  ASSERT_TRUE(results[1].ipv6.has_value());
  EXPECT_TRUE(results[1].ipv6->addresses.empty());
  EXPECT_FALSE(results[2].ipv6.has_value());

  std::ostringstream diagnostics;
  const auto views = Ipv6OnlyViews(
      withCrowd, book, [](const MacAddress&) { return std::string("Maker"); }, diagnostics);
  ASSERT_EQ(views.size(), 2U);
  EXPECT_EQ(views[1].mac, kCrowded);
  EXPECT_EQ(views[1].macSharedBy, kMostAddressesPerHost + 1);
  EXPECT_EQ(diagnostics.str(), "hostsweep: warning: 02:00:00:00:00:0c answered IPv6 for " +
                                   std::to_string(kMostAddressesPerHost + 1) +
                                   " addresses: a proxy, one host holding them all and spoofed "
                                   "neighbour messages look alike\n");
  EXPECT_FALSE(views[0].macSharedBy);
  EXPECT_EQ(AddressText(views[0]), "2001:db8::20");
  EXPECT_EQ(views[0].state, State::kAlive);
  EXPECT_EQ(views[0].mac, kIpv6Only);
  EXPECT_EQ(views[0].vendor, "Maker");
  EXPECT_EQ(views[0].ipv6, (std::vector<std::string>{"2001:db8::20", "fe80::20%br0"}));
}

TEST(Ipv6Join, AsksOnlyTheBroadcastLinksHoldingASweptAddress) {
  const std::vector<InterfaceNetwork> networks{
      {.interfaceName = "eth0", .address = 0x0A000001, .prefixLength = 24},
      {.interfaceName = "wlan0", .address = 0xC0A80101, .prefixLength = 24},
      {.interfaceName = "ppp0", .address = 0x0A000002, .prefixLength = 32, .peer = 0x0A000009}};
  EXPECT_EQ(InterfacesSwept(networks, {0x0A000009, 0x0A000050}), std::vector<std::string>{"eth0"});
  EXPECT_TRUE(InterfacesSwept(networks, {0x08080808}).empty());
}

}  // namespace
}  // namespace hostsweep::controller
