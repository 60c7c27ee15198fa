#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "controller/base/errors.h"
#include "controller/snmp/neighbour_rows.h"
#include "controller/snmp/snmp_auth.h"
#include "controller/snmp/snmp_stage.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

constexpr Address kBehind = 0x0A000005;  // 10.0.0.5
const std::vector<std::uint8_t> kMacBytes{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
constexpr MacAddress kMac{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};

std::vector<std::uint64_t> Oid(std::span<const std::uint64_t> column,
                               const std::vector<std::uint64_t>& index) {
  std::vector<std::uint64_t> oid(column.begin(), column.end());
  oid.insert(oid.end(), index.begin(), index.end());
  return oid;
}

struct Row {
  std::string name;
  std::vector<std::uint64_t> oid;
  std::vector<std::uint8_t> value;
  std::optional<RoutedNeighbour> neighbour;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class NeighbourRow : public ::testing::TestWithParam<Row> {};

TEST_P(NeighbourRow, IsTakenOnlyWhenItsIndexAndValueHaveTheirLengths) {
  EXPECT_EQ(NeighbourOfRow(GetParam().oid, GetParam().value), GetParam().neighbour);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, NeighbourRow,
    ::testing::Values(Row{"the newer table's IPv4 row",
                          Oid(kIpNetToPhysicalMac, {3, 1, 4, 10, 0, 0, 5}), kMacBytes,
                          RoutedNeighbour{kBehind, kMac}},
                      Row{"the older table's row", Oid(kIpNetToMediaMac, {3, 10, 0, 0, 5}),
                          kMacBytes, RoutedNeighbour{kBehind, kMac}},
                      Row{"an IPv6 row",
                          Oid(kIpNetToPhysicalMac,
                              {3, 2, 16, 0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}),
                          kMacBytes, std::nullopt},
                      Row{"an IPv4 type with a length of 16",
                          Oid(kIpNetToPhysicalMac, {3, 1, 16, 10, 0, 0, 5}), kMacBytes,
                          std::nullopt},
                      Row{"an address of three octets",
                          Oid(kIpNetToPhysicalMac, {3, 1, 4, 10, 0, 5}), kMacBytes, std::nullopt},
                      Row{"an older row of five octets", Oid(kIpNetToMediaMac, {3, 10, 0, 0, 5, 1}),
                          kMacBytes, std::nullopt},
                      Row{"an octet above 255", Oid(kIpNetToMediaMac, {3, 10, 0, 256, 5}),
                          kMacBytes, std::nullopt},
                      Row{"a MAC of five bytes",
                          Oid(kIpNetToMediaMac, {3, 10, 0, 0, 5}),
                          {0x00, 0x1a, 0x2b, 0x3c, 0x4d},
                          std::nullopt},
                      Row{"a MAC of seven bytes",
                          Oid(kIpNetToMediaMac, {3, 10, 0, 0, 5}),
                          {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e, 0x6f},
                          std::nullopt},
                      Row{"an all-zero MAC",
                          Oid(kIpNetToMediaMac, {3, 10, 0, 0, 5}),
                          {0, 0, 0, 0, 0, 0},
                          std::nullopt},
                      Row{"the broadcast MAC",
                          Oid(kIpNetToMediaMac, {3, 10, 0, 0, 5}),
                          {0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
                          std::nullopt},
                      Row{"another column", Oid({kIpNetToMediaMac.data(), 9}, {3, 3, 10, 0, 0, 5}),
                          kMacBytes, std::nullopt}),
    [](const auto& info) { return testing::CaseName(info.param.name); });

struct Merge {
  std::string name;
  std::string report;  // the worker's, for the one address 10.0.0.5
  std::optional<MacAddress> linkMac;
  std::optional<MacAddress> leaseMac;
  std::optional<MacAddress> shownMac;
  MacSource macSource;
};

void PrintTo(const Merge& merge, std::ostream* os) { *os << merge.name; }

class SnmpMerge : public ::testing::TestWithParam<Merge> {};

constexpr MacAddress kOnLink{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x01};
constexpr MacAddress kLeased{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x02};

TEST_P(SnmpMerge, RanksTheRoutersMacBetweenTheLinksAndALeases) {
  const Merge& c = GetParam();
  ResultBook book({kBehind});
  ASSERT_EQ(book.FileProbeReport(c.report), Filing::kFiled);
  if (c.linkMac) {
    book.FileLink(0, {.mac = c.linkMac, .heardDuringSweep = true});
  }
  if (c.leaseMac) {
    book.FileLease(0, {.mac = c.leaseMac});
  }
  const auto walked = [] {
    return RouterNeighbours{.macs = {{kBehind, kMac}}, .problems = {"--snmp router: no answer"}};
  };
  std::ostringstream said;
  SnmpStage(walked, said).Enrich(book, {0});
  const HostView view = ViewOf(book.Results()[0], {});
  EXPECT_EQ(view.mac, c.shownMac);
  EXPECT_EQ(view.macSource, c.macSource);
  // The walk's faults are said once its table is needed: not for a dead host.
  EXPECT_EQ(said.str(),
            c.macSource == MacSource::kNone ? "" : "hostsweep: --snmp router: no answer\n");
}

INSTANTIATE_TEST_SUITE_P(
    Routers, SnmpMerge,
    ::testing::Values(Merge{"a routed host takes the router's MAC", "h0,1,64,,", std::nullopt,
                            std::nullopt, kMac, MacSource::kSnmp},
                      Merge{"the router's MAC before a lease's", "h0,1,64,,", std::nullopt, kLeased,
                            kMac, MacSource::kSnmp},
                      Merge{"the link's MAC before the router's", "h0,1,64,,", kOnLink,
                            std::nullopt, kOnLink, MacSource::kNeighbour},
                      Merge{"a dead host takes nothing", "h0,Dead", std::nullopt, std::nullopt,
                            std::nullopt, MacSource::kNone}),
    [](const auto& info) { return testing::CaseName(info.param.name); });

struct AuthLine {
  std::string name;
  std::string line;
  std::optional<SnmpAuth> auth;  // none: refused
};

void PrintTo(const AuthLine& line, std::ostream* os) { *os << line.name; }

class SnmpAuthLine : public ::testing::TestWithParam<AuthLine> {};

TEST_P(SnmpAuthLine, GivesTheSessionsSettingsOrIsRefused) {
  const AuthLine& c = GetParam();
  if (!c.auth) {
    EXPECT_THROW(ParseSnmpAuth(c.line), UsageError);
    return;
  }
  const SnmpAuth auth = ParseSnmpAuth(c.line);
  EXPECT_EQ(std::tie(auth.community, auth.user, auth.hash, auth.authPassphrase, auth.cipher,
                     auth.privPassphrase),
            std::tie(c.auth->community, c.auth->user, c.auth->hash, c.auth->authPassphrase,
                     c.auth->cipher, c.auth->privPassphrase));
}

using Hash = SnmpAuth::Hash;
using Cipher = SnmpAuth::Cipher;

INSTANTIATE_TEST_SUITE_P(
    Lines, SnmpAuthLine,
    ::testing::Values(
        AuthLine{"a community", "v2c s3cret", SnmpAuth{.community = "s3cret"}},
        AuthLine{"a user alone", "v3 watcher", SnmpAuth{.user = "watcher"}},
        AuthLine{"a user with authentication", "v3 watcher md5 passphrase",
                 SnmpAuth{.user = "watcher", .hash = Hash::kMd5, .authPassphrase = "passphrase"}},
        AuthLine{"a user with privacy", " v3  watcher sha passphrase aes privacy1 ",
                 SnmpAuth{.user = "watcher",
                          .hash = Hash::kSha,
                          .authPassphrase = "passphrase",
                          .cipher = Cipher::kAes,
                          .privPassphrase = "privacy1"}},
        AuthLine{"a community without its version", "s3cret", std::nullopt},
        AuthLine{"an unknown hash", "v3 watcher sha512 passphrase", std::nullopt},
        AuthLine{"an unknown cipher", "v3 watcher sha passphrase 3des privacy1", std::nullopt},
        AuthLine{"a short passphrase", "v3 watcher sha short", std::nullopt},
        AuthLine{"a hash without its passphrase", "v3 watcher sha", std::nullopt}),
    [](const auto& info) { return testing::CaseName(info.param.name); });

}  // namespace
}  // namespace hostsweep::controller
