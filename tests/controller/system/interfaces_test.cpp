// --localnet's reading of the kernel's link and address lists, from messages
// laid out as rtnetlink sends them.
#include "controller/system/posix/interfaces.h"

#include <gtest/gtest.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/socket.h>

#include <cstring>

#include "controller/targets/local_networks.h"
#include "tests/controller/system/netlink_message.h"

namespace hostsweep::controller {
namespace {

constexpr MacAddress kLinkMac{0x02, 0x13, 0x00, 0x00, 0x00, 0x02};

Message Link(int index, unsigned flags, const char* name) {
  ifinfomsg link{};
  link.ifi_family = AF_UNSPEC;
  link.ifi_type = ARPHRD_ETHER;
  link.ifi_index = index;
  link.ifi_flags = flags;
  Message message(RTM_NEWLINK, link);
  message.Attribute(IFLA_IFNAME, name, std::strlen(name) + 1);
  message.Attribute(IFLA_ADDRESS, kLinkMac.data(), kLinkMac.size());
  return message;
}

Message AddressOf(int index, int prefix, std::optional<Address> local, Address address) {
  ifaddrmsg fixed{};
  fixed.ifa_family = AF_INET;
  fixed.ifa_prefixlen = static_cast<unsigned char>(prefix);
  fixed.ifa_index = static_cast<unsigned>(index);
  Message message(RTM_NEWADDR, fixed);
  message.Ipv4(IFA_ADDRESS, address);
  if (local) {
    message.Ipv4(IFA_LOCAL, *local);
  }
  return message;
}

struct AddressCase {
  const char* what;
  unsigned linkFlags;
  int prefix;
  std::optional<Address> local;
  Address address;
  std::vector<std::string> targets;  // what --localnet sweeps
};

void PrintTo(const AddressCase& c, std::ostream* os) { *os << c.what; }

class InterfaceAddresses : public ::testing::TestWithParam<AddressCase> {};

TEST_P(InterfaceAddresses, GiveTheConnectedNetwork) {
  const auto& c = GetParam();
  const Message link = Link(7, c.linkFlags, "tun1");
  const Message address = AddressOf(7, c.prefix, c.local, c.address);
  const Message otherLink = AddressOf(8, 24, std::nullopt, 0x0A090001);  // no such link
  const auto networks = InterfaceNetworksFrom({link.Get()}, {address.Get(), otherLink.Get()});
  EXPECT_EQ(LocalNetworkTargets(networks), c.targets);
  for (const auto& network : networks) {
    EXPECT_EQ(network.interfaceName, "tun1");
    EXPECT_EQ(network.mac, kLinkMac);
  }
}

constexpr unsigned kUp = IFF_UP | IFF_RUNNING;

INSTANTIATE_TEST_SUITE_P(
    LocalNetworks, InterfaceAddresses,
    ::testing::Values(
        AddressCase{"Ethernet", kUp | IFF_BROADCAST, 24, 0x0A010203, 0x0A010203, {"10.1.2.0/24"}},
        AddressCase{"AddressAlone", kUp, 24, std::nullopt, 0x0A010203, {"10.1.2.0/24"}},
        AddressCase{
            "PeerPrefix", kUp | IFF_POINTOPOINT, 24, 0x0A070001, 0x0A080000, {"10.8.0.0/24"}},
        AddressCase{
            "PeerAlone", kUp | IFF_POINTOPOINT, 32, 0x0A070001, 0x0A080005, {"10.8.0.5/32"}},
        AddressCase{"PeerOnABroadcastLink",
                    kUp | IFF_BROADCAST,
                    30,
                    0x0A070001,
                    0x0A080004,
                    {"10.8.0.4/30"}},
        AddressCase{"Down", IFF_BROADCAST, 24, 0x0A010203, 0x0A010203, {}},
        AddressCase{"Loopback", kUp | IFF_LOOPBACK, 8, 0x7F000001, 0x7F000001, {}}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace hostsweep::controller
