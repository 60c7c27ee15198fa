#include "controller/inventory/inventory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "controller/base/errors.h"
#include "tests/case_name.h"
#include "tests/temporary_folder.h"

namespace hostsweep::controller {
namespace {

constexpr const char* kHeader = "mac,address,alias,owner,expect,note\n";

struct BadRow {
  std::string text;  // after the header line, unless it starts with one
  std::string message;
};

void PrintTo(const BadRow& row, std::ostream* os) { *os << row.message; }

class BadInventory : public ::testing::TestWithParam<BadRow> {};

TEST_P(BadInventory, IsRefusedWithItsLineNumber) {
  const std::string& text = GetParam().text;
  const std::string file = text.starts_with("mac,") || text.empty() ? text : kHeader + text;
  try {
    ParseInventory(file);
    ADD_FAILURE() << "accepted: " << file;
  } catch (const UsageError& refused) {
    EXPECT_EQ(std::string(refused.what()), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inventory, BadInventory,
    ::testing::Values(
        BadRow{"", "1: the first line must be the header mac,address,alias,owner,expect,note"},
        BadRow{"mac,address,alias\n",
               "1: the first line must be the header mac,address,alias,owner,expect,note"},
        BadRow{",10.0.0.1,a,,,\nzz,,b,,,\n", "3: bad MAC \"zz\""},
        BadRow{",10.0.0.256,a,,,\n", "2: bad address \"10.0.0.256\""},
        BadRow{",,a,,,\n", "2: neither a MAC nor an address"},
        BadRow{",10.0.0.1,a,,sometimes,\n",
               "2: bad expect \"sometimes\" (empty, always or ignore)"},
        BadRow{",10.0.0.1,a,\n", "2: 4 fields, not 6"},
        BadRow{",10.0.0.1,\"a,\n", "2: a quoted field that does not end"},
        BadRow{"00:1a:2b:3c:4d:01,,\"a\nb\",,,\n00-1A-2B-3C-4D-01,,c,,,\n",
               "4: MAC 00:1a:2b:3c:4d:01 is on line 2 too"},
        // A row over two lines; a column of the user's (--history's names) unbounded.
        BadRow{"mac,address,alias,owner,expect,note,names\n,10.0.0.1,a,,,," +
                   std::string(300, 'x') + "\nzz,,b,,,,\n",
               "3: bad MAC \"zz\""},
        BadRow{",10.0.0.1,a\"b\",,,\n", "2: a quote inside an unquoted field"},
        BadRow{"00:1a:2b:3c:4d:01,,a,,,\n\n00-1A-2B-3C-4D-01,,b,,,\n",
               "4: MAC 00:1a:2b:3c:4d:01 is on line 2 too"},
        BadRow{"00:00:00:00:00:00,,a,,,\n",
               "2: MAC 00:00:00:00:00:00 names no device: give its address"},
        BadRow{",10.0.0.1," + std::string(257, 'x') + ",,,\n", "2: a field longer than 256 bytes"},
        BadRow{"mac,address,alias,owner,expect,note,away_after\n,10.0.0.1,a,,,,20m\n"
               ",10.0.0.2,b,,,,2d\n",
               "3: bad away_after \"2d\" (90s, 20m, 1h: at most a day)"},
        BadRow{",10.0.0.1,\x1b[2J,,bad\x1b,\n",
               "2: bad expect \"bad?\" (empty, always or ignore)"}),
    testing::kNumberedName);

HostView Host(Address address, std::optional<MacAddress> mac) {
  return {.address = address, .state = State::kAlive, .mac = mac};
}

// A row keyed by MAC is that device wherever it is; a row without one is
// whatever holds its address, unless the host's MAC has a row of its own.
TEST(Inventory, MatchesByMacThenByAddress) {
  const Inventory inventory = ParseInventory(
      "\xEF\xBB\xBFmac,address,alias,owner,expect,note\r\n"
      "00:13:00:00:00:0D,10.0.0.9,\"delta,\r\n \"\"the box\"\"\",ann,always,\r\n"
      ",10.0.0.20,printer,,ignore,by the door\r\n"
      ",2001:DB8::A,v6,,,\r\n"
      "5a:00:00:00:00:01,,phone,,,\r\n");
  const auto delta = ParseMac("00:13:00:00:00:0d");
  const auto other = ParseMac("00:22:72:00:00:0a");
  const KnownFacts deltaFacts{
      .known = true, .alias = "delta,\n \"the box\"", .owner = "ann", .expect = Expect::kAlways};
  EXPECT_EQ(inventory.FactsOf(Host(0x0A000005, delta)), deltaFacts);
  EXPECT_EQ(inventory.FactsOf(Host(0x0A000014, delta)), deltaFacts);
  EXPECT_EQ(inventory.FactsOf(Host(0x0A000014, other)).alias, "printer");
  EXPECT_EQ(inventory.FactsOf(Host(0x0A000014, std::nullopt)).expect, Expect::kIgnore);
  EXPECT_EQ(inventory.FactsOf(Host(0x0A000009, other)), KnownFacts{});
  // A randomised MAC the user wrote down is that phone on any address.
  EXPECT_EQ(inventory.FactsOf(Host(0x0A000042, ParseMac("5a:00:00:00:00:01"))).alias, "phone");
  HostView v6 = Host(0, other);
  v6.ipv6 = {"2001:db8::a"};
  v6.ipv6Only = true;
  EXPECT_EQ(inventory.FactsOf(v6).alias, "v6");
}

TEST(Inventory, FileIsNamedAndBounded) {
  const testing::TemporaryFolder folder;
  const std::string big = (folder / "big.csv").string();
  std::ofstream(big) << kHeader << std::string(std::size_t{2} * 1024 * 1024, '\n');
  const std::string bad = (folder / "bad.csv").string();
  std::ofstream(bad) << kHeader << "zz,,,,,\n";
  const std::vector<std::pair<std::string, std::string>> refusals{
      {(folder / "none.csv").string(), ": No such file or directory"},
      {folder.Path().string(), ": not a regular file"},
      {big, ": larger than 1048576 bytes"},
      {bad, ":2: bad MAC \"zz\""}};
  for (const auto& [path, message] : refusals) {
    try {
      ReadInventory(path);
      ADD_FAILURE() << "read " << path;
    } catch (const UsageError& refused) {
      EXPECT_EQ(std::string(refused.what()), std::string("--known ").append(path).append(message));
    }
  }
}

}  // namespace
}  // namespace hostsweep::controller
