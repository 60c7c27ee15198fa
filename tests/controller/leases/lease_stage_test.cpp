#include "controller/leases/lease_stage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "controller/passive/heard_name_stage.h"
#include "tests/case_name.h"
#include "tests/temporary_folder.h"

namespace hostsweep::controller {
namespace {

constexpr std::int64_t kNow = 1765324800;
const auto kLeased = ParseMac("00:1a:2b:3c:4d:5e");
const auto kOnLink = ParseMac("00:1a:2b:3c:4d:01");

struct Merge {
  std::string name;
  std::string report;  // the worker's, for the one address 10.0.0.5
  std::optional<MacAddress> linkMac;
  std::string netbiosName;  // the controller's own question's answer
  std::string heardName;    // what a watch heard kOnLink's DHCP messages ask for
  std::string shownName;
  NameSource nameSource;
  std::optional<MacAddress> shownMac;
  MacSource macSource;
};

void PrintTo(const Merge& merge, std::ostream* os) { *os << merge.name; }

class LeaseMerge : public ::testing::TestWithParam<Merge> {};

TEST_P(LeaseMerge, FillsWhatTheHostsOwnAnswersLeaveOpen) {
  const Merge& c = GetParam();
  const testing::TemporaryFolder folder;
  std::ofstream(folder / "leases") << "0 00:1a:2b:3c:4d:5e 10.0.0.5 laptop *\n";
  std::ostringstream said;
  const LeaseFiles files({(folder / "leases").string()}, said);
  ResultBook book({0x0A000005});
  ASSERT_EQ(book.FileProbeReport(c.report), Filing::kFiled);
  if (c.linkMac) {
    book.FileLink(0, {.mac = c.linkMac, .heardDuringSweep = true});
  }
  book.FileNames(0, {.netbios = c.netbiosName});
  LeaseStage(files, kNow).Enrich(book, {0});
  PassiveBook heard;
  heard.Weigh(
      {.seenBy = SeenBy::kDhcp, .mac = *kOnLink, .hostName = c.heardName},
      [](Address) { return std::nullopt; }, kNow);
  HeardNameStage(heard).Enrich(book, {0});
  const HostView view = ViewOf(book.Results()[0], {});
  EXPECT_EQ(view.name, c.shownName);
  EXPECT_EQ(view.nameSource, c.nameSource);
  EXPECT_EQ(view.mac, c.shownMac);
  EXPECT_EQ(view.macSource, c.macSource);
}

INSTANTIATE_TEST_SUITE_P(
    Leases, LeaseMerge,
    ::testing::Values(
        Merge{"a routed host takes the lease's name and MAC", "h0,1,64,,", std::nullopt, "",
              "phone", "laptop", NameSource::kDhcpLease, kLeased, MacSource::kDhcpLease},
        Merge{"reverse DNS names it before the lease", "h0,1,64,pc.lan,", std::nullopt, "", "",
              "pc.lan", NameSource::kDns, kLeased, MacSource::kDhcpLease},
        Merge{"NetBIOS names it, the lease's MAC before its unit ID", "h0,1,64,,00-11-22-33-44-55",
              std::nullopt, "PC", "", "PC", NameSource::kNetbios, kLeased, MacSource::kDhcpLease},
        Merge{"the link's MAC before the lease's", "h0,Dead", kOnLink, "", "", "laptop",
              NameSource::kDhcpLease, kOnLink, MacSource::kNeighbour},
        Merge{"the name its MAC asked for in DHCP before the lease's", "h0,Dead", kOnLink, "",
              "phone", "phone", NameSource::kDhcp, kOnLink, MacSource::kNeighbour},
        Merge{"NetBIOS names it before what DHCP heard", "h0,1,64,,", kOnLink, "PC", "phone", "PC",
              NameSource::kNetbios, kOnLink, MacSource::kNeighbour},
        Merge{"a dead host takes nothing", "h0,Dead", std::nullopt, "", "", "", NameSource::kNone,
              std::nullopt, MacSource::kNone}),
    [](const auto& info) { return testing::CaseName(info.param.name); });

}  // namespace
}  // namespace hostsweep::controller
