#include "controller/leases/lease_files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "controller/base/errors.h"
#include "tests/case_name.h"
#include "tests/temporary_folder.h"

namespace hostsweep::controller {
namespace {

constexpr Address k10_0_0_5 = 0x0A000005;
constexpr std::int64_t kNow = 1765324800;

void Write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A dnsmasq line for 10.0.0.5 with `mac`'s last byte, ending at `expiry`.
std::string Line(std::int64_t expiry, char last) {
  return std::to_string(expiry) + " 00:1a:2b:3c:4d:0" + last + " 10.0.0.5 pc *\n";
}

struct Current {
  std::string name;
  std::vector<std::string> files;
  std::optional<MacAddress> mac;  // of the lease current at kNow
};

void PrintTo(const Current& current, std::ostream* os) { *os << current.name; }

class CurrentLeases : public ::testing::TestWithParam<Current> {};

TEST_P(CurrentLeases, AreTheBoundOnesNotYetEndedTheLatestFirst) {
  const testing::TemporaryFolder folder;
  std::vector<std::string> paths;
  for (const std::string& text : GetParam().files) {
    paths.push_back((folder / std::to_string(paths.size())).string());
    Write(paths.back(), text);
  }
  std::ostringstream said;
  const LeaseFiles files(paths, said);
  const auto lease = files.CurrentLease(k10_0_0_5, kNow);
  EXPECT_EQ(lease ? lease->mac : std::nullopt, GetParam().mac);
  EXPECT_EQ(said.str(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Leases, CurrentLeases,
    ::testing::Values(
        Current{"ends after now", {Line(kNow + 1, '1')}, ParseMac("00:1a:2b:3c:4d:01")},
        Current{"ended now", {Line(kNow, '1')}, std::nullopt},
        Current{"never ends", {Line(0, '1')}, ParseMac("00:1a:2b:3c:4d:01")},
        Current{"freed before it ended",
                {"lease 10.0.0.5 {\n  ends never;\n  binding state free;\n}\n"},
                std::nullopt},
        Current{"the one of two files that ends last",
                {Line(kNow + 9, '1'), Line(kNow + 99, '2')},
                ParseMac("00:1a:2b:3c:4d:02")},
        Current{"an ended one beside a current one",
                {Line(kNow + 9, '1'), Line(kNow - 1, '2')},
                ParseMac("00:1a:2b:3c:4d:01")}),
    [](const auto& info) { return testing::CaseName(info.param.name); });

// A refused or vanished file costs its leases until it is fit again, said
// once with its name and line; one untouched is not read again.
TEST(LeaseFiles, ReadAgainOnlyWhenChanged) {
  const testing::TemporaryFolder folder;
  const std::string path = (folder / "dnsmasq.leases").string();
  Write(path, Line(0, '1'));
  std::ostringstream said;
  LeaseFiles files({path}, said);
  files.Refresh();
  ASSERT_TRUE(files.CurrentLease(k10_0_0_5, kNow));
  Write(path, Line(0, '1') + "0 zz 10.0.0.6 * *\n");
  files.Refresh();
  EXPECT_FALSE(files.CurrentLease(k10_0_0_5, kNow));
  const std::string refused =
      "hostsweep: --leases " + path + ":2: bad MAC \"zz\"; its leases are left out\n";
  EXPECT_EQ(said.str(), refused);
  std::filesystem::remove(path);
  files.Refresh();
  files.Refresh();
  EXPECT_EQ(said.str(), refused + "hostsweep: --leases " + path +
                            ": No such file or directory; its leases are left out\n");
  Write(path, Line(0, '2'));
  files.Refresh();
  EXPECT_EQ(files.CurrentLease(k10_0_0_5, kNow)->mac, ParseMac("00:1a:2b:3c:4d:02"));
  EXPECT_THROW(LeaseFiles({(folder / "none").string()}, said), UsageError);
}

}  // namespace
}  // namespace hostsweep::controller
