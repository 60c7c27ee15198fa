#include "controller/link/vlan_links.h"

#include <gtest/gtest.h>

#include "controller/base/errors.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

struct VlanText {
  const char* text;
  bool valid;
  const char* port = "";
  std::uint16_t id = 0;
  const char* network = "0.0.0.0";
  int prefixLength = 0;
};

void PrintTo(const VlanText& c, std::ostream* os) { *os << c.text; }

class VlanOption : public ::testing::TestWithParam<VlanText> {};

TEST_P(VlanOption, ReadsPortIdAndNetworkOrRefuses) {
  const auto& c = GetParam();
  if (!c.valid) {
    EXPECT_THROW(ParseVlanLink(c.text), UsageError);
    return;
  }
  const VlanLink vlan = ParseVlanLink(c.text);
  EXPECT_EQ(vlan.port, c.port);
  EXPECT_EQ(vlan.id, c.id);
  EXPECT_EQ(FormatAddress(vlan.network), c.network);
  EXPECT_EQ(vlan.prefixLength, c.prefixLength);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, VlanOption,
    ::testing::Values(VlanText{"10", true, "", 10}, VlanText{"eth0.20", true, "eth0", 20},
                      VlanText{"bond0.100.4094", true, "bond0.100", 4094},
                      VlanText{"eth0.10@192.168.10.7/24", true, "eth0", 10, "192.168.10.0", 24},
                      VlanText{"0", false}, VlanText{"4095", false}, VlanText{"eth0.", false},
                      VlanText{".10", false}, VlanText{"ten", false}, VlanText{"10@", false},
                      VlanText{"10@192.168.10.0", false}, VlanText{"10@192.168.10.0/33", false},
                      VlanText{"10@192.168.10.0/0", false}),
    testing::kNumberedName);

TEST(VlanLinks, NetworksGivenComeBeforeTheDirectlyConnectedAndTheRestAfter) {
  const auto portOf = [](const std::string& name) {
    return LinkInterface{.index = 3, .name = name};
  };
  const auto links = VlanInterfaces({ParseVlanLink("30"), ParseVlanLink("trunk1.20@10.0.20.0/24")},
                                    "trunk0", portOf);
  const auto all = WithVlanLinks({LinkInterface{.name = "eth0", .prefixLength = 24}}, links);
  ASSERT_EQ(all.size(), 3U);
  EXPECT_EQ(all[0].name, "trunk1.20");
  EXPECT_EQ(all[1].name, "eth0");
  EXPECT_EQ(all[2].name, "trunk0.30");
  EXPECT_EQ(all[2].vlan, 30);
}

}  // namespace
}  // namespace hostsweep::controller
