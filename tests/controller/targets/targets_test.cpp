#include "controller/targets/targets.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "controller/base/errors.h"
#include "controller/targets/local_networks.h"
#include "tests/case_name.h"
#include "tests/temporary_folder.h"

namespace hostsweep::controller {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

// Host names as a test's resolver knows them: no lookup leaves the process.
HostLookup LabResolver(const std::string& name) {
  if (name == "alpha.lab" || name == "alpha.lab.") {
    return {0x0AD5000A, {}};
  }
  return {std::nullopt, "unknown to the test"};
}

// Consecutive addresses as "first-last" (or one address): what a target names, compactly.
std::vector<std::string> Runs(const std::vector<Address>& addresses) {
  std::vector<std::string> runs;
  for (std::size_t i = 0; i < addresses.size();) {
    std::size_t end = i + 1;
    while (end < addresses.size() && addresses[end] == addresses[end - 1] + 1) {
      ++end;
    }
    runs.push_back(FormatAddress(addresses[i]) +
                   (end - i > 1 ? "-" + FormatAddress(addresses[end - 1]) : ""));
    i = end;
  }
  return runs;
}

struct Expansion {
  const char* target;
  std::vector<std::string> runs;
};

void PrintTo(const Expansion& c, std::ostream* os) { *os << c.target; }

class TargetExpansion : public ::testing::TestWithParam<Expansion> {};

TEST_P(TargetExpansion, NamesTheExpectedAddressesInOrder) {
  std::vector<Address> addresses;
  ExpandTarget(GetParam().target, addresses, LabResolver);
  EXPECT_EQ(Runs(addresses), GetParam().runs);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, TargetExpansion,
    ::testing::Values(
        Expansion{"10.0.0.7", {"10.0.0.7"}}, Expansion{"0.0.0.0", {"0.0.0.0"}},
        Expansion{"255.255.255.255", {"255.255.255.255"}},
        Expansion{"10.0.0.1-254", {"10.0.0.1-10.0.0.254"}}, Expansion{"10.0.0.5-5", {"10.0.0.5"}},
        Expansion{"10.0.0.250-10.0.1.3", {"10.0.0.250-10.0.1.3"}},
        Expansion{"10.0.0.0/24", {"10.0.0.1-10.0.0.254"}},
        Expansion{"10.0.0.77/24", {"10.0.0.1-10.0.0.254"}},
        Expansion{"10.0.0.0/30", {"10.0.0.1-10.0.0.2"}},
        Expansion{"10.0.0.6/31", {"10.0.0.6-10.0.0.7"}}, Expansion{"10.0.0.9/32", {"10.0.0.9"}},
        Expansion{"10.0.0.0/16", {"10.0.0.1-10.0.255.254"}},
        Expansion{"255.255.255.255/31", {"255.255.255.254-255.255.255.255"}},
        Expansion{"10.0.0.1,5,7", {"10.0.0.1", "10.0.0.5", "10.0.0.7"}},
        Expansion{"10.0.0.9,1,5-7", {"10.0.0.9", "10.0.0.1", "10.0.0.5-10.0.0.7"}},
        Expansion{"10.0.0.*", {"10.0.0.1-10.0.0.254"}},
        Expansion{"10.0.*.*", {"10.0.0.1-10.0.255.254"}}, Expansion{"alpha.lab", {"10.213.0.10"}},
        Expansion{"alpha.lab.", {"10.213.0.10"}}),
    testing::kNumberedName);

struct Refusal {
  const char* target;
  const char* message;
};

void PrintTo(const Refusal& c, std::ostream* os) { *os << testing::Quoted(c.target); }

class TargetRefusal : public ::testing::TestWithParam<Refusal> {};

// Each says what is wrong in the terms of the form the user wrote.
TEST_P(TargetRefusal, SaysWhatIsWrongWithTheTarget) {
  std::vector<Address> addresses;
  try {
    ExpandTarget(GetParam().target, addresses, LabResolver);
    FAIL() << GetParam().target << " was accepted";
  } catch (const UsageError& error) {
    EXPECT_EQ(error.what(),
              "bad target \"" + std::string(GetParam().target) + "\": " + GetParam().message);
  }
  EXPECT_TRUE(addresses.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Targets, TargetRefusal,
    ::testing::Values(
        Refusal{"10.0.0.256", "\"256\" is not an octet (0 to 255, no leading zeros)"},
        Refusal{"10.213.0", "it has 3 octets; an IPv4 address has 4"},
        Refusal{"10.0.0.1.2", "it has 5 octets; an IPv4 address has 4"},
        Refusal{"10.0.0.01", "\"01\" is not an octet (0 to 255, no leading zeros)"},
        Refusal{"10.0.0.x", "\"x\" is not an octet (0 to 255, no leading zeros)"},
        Refusal{"", "it is not an IPv4 address, range, block or host name"},
        Refusal{"not a host!", "it is not an IPv4 address, range, block or host name"},
        Refusal{"labpc1.lab", "unknown to the test"},
        Refusal{"10.0.0.9-3", "\"9-3\" runs backwards"},
        Refusal{"10.0.1.0-10.0.0.255", "the range runs backwards"},
        Refusal{"10.0.0-10.0.1.5", "\"10.0.0\" has 3 octets; an IPv4 address has 4"},
        Refusal{"10.0.0.1-300", "\"300\" is not an octet (0 to 255, no leading zeros)"},
        Refusal{"10.0.0.1-", "\"\" is not an octet (0 to 255, no leading zeros)"},
        Refusal{"10.0.0.1,,5", "\"\" is not an octet (0 to 255, no leading zeros)"},
        Refusal{"10.0.0.1,7-5", "\"7-5\" runs backwards"},
        Refusal{"10.0.0.1,10.0.0.5", "it has 7 octets; a list is of last octets: 10.0.0.1,5,7-9"},
        Refusal{"10.0.*.5", "a * stands for whole last octets: 10.0.0.*, 10.0.*.*"},
        Refusal{"10.*", "it has 2 octets; a * stands for whole last octets: 10.0.0.*, 10.0.*.*"},
        Refusal{"10.*.*.*", "names 16777214 addresses; a sweep takes at most 65536"},
        Refusal{"10.0.0.0/33", "\"33\" is not a prefix length (0 to 32)"},
        Refusal{"10.0.0.0/", "\"\" is not a prefix length (0 to 32)"},
        Refusal{"10.0.0.0/0", "names 4294967294 addresses; a sweep takes at most 65536"},
        Refusal{"10.0.0.0/8", "names 16777214 addresses; a sweep takes at most 65536"},
        Refusal{"0.0.0.0-255.255.255.255",
                "names 4294967296 addresses; a sweep takes at most 65536"},
        Refusal{"10.0.0.0-10.1.0.0", "names 65537 addresses; a sweep takes at most 65536"}),
    testing::kNumberedName);

struct TargetList {
  const char* name;
  std::vector<std::string> targets;
  std::vector<std::string> runs;     // none: nothing is left to sweep
  std::vector<std::string> skipped;  // each said once
  int lookups;
};

class TargetLists : public ::testing::TestWithParam<TargetList> {};

// An address named again is swept where it first appears; each name is looked
// up once, and a mistyped one is said and left out, the others still swept.
TEST_P(TargetLists, ExpandInOrderOnceEachAndSkipUnknownNames) {
  int lookups = 0;
  const HostResolver counted = [&](const std::string& name) {
    ++lookups;
    return LabResolver(name);
  };
  std::ostringstream notices;
  const auto expand = [&] { return Runs(ExpandTargets(GetParam().targets, counted, notices)); };
  if (GetParam().runs.empty()) {
    EXPECT_THAT(expand, ::testing::ThrowsMessage<UsageError>(::testing::StrEq(
                            "nothing left to sweep: no host name given resolves")));
  } else {
    EXPECT_EQ(expand(), GetParam().runs);
  }
  std::string said;
  for (const auto& name : GetParam().skipped) {
    said += "hostsweep: skipping \"" + name + "\": unknown to the test\n";
  }
  EXPECT_EQ(notices.str(), said);
  EXPECT_EQ(lookups, GetParam().lookups);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, TargetLists,
    ::testing::Values(
        TargetList{"DuplicatesKeepFirstPlace",
                   {"10.0.0.3", "10.0.0.1-4", "10.0.0.3", "10.0.0.0/30"},
                   {"10.0.0.3", "10.0.0.1-10.0.0.2", "10.0.0.4"},
                   {},
                   0},
        TargetList{"OverlapsKeepFirstPlace",
                   {"10.0.0.5-7", "10.0.0.1-10", "10.0.0.9-12"},
                   {"10.0.0.5-10.0.0.7", "10.0.0.1-10.0.0.4", "10.0.0.8-10.0.0.12"},
                   {},
                   0},
        TargetList{"KnownNameRepeated",
                   {"alpha.lab", "10.213.0.9-11", "alpha.lab"},
                   {"10.213.0.10", "10.213.0.9", "10.213.0.11"},
                   {},
                   1},
        TargetList{"UnknownOneAmongAddresses",
                   {"10.213.0.9", "nosuch.lab", "alpha.lab"},
                   {"10.213.0.9-10.213.0.10"},
                   {"nosuch.lab"},
                   2},
        TargetList{"UnknownTwoOneRepeated",
                   {"nosuch.lab", "10.213.0.9", "other.lab", "nosuch.lab"},
                   {"10.213.0.9"},
                   {"nosuch.lab", "other.lab"},
                   2},
        TargetList{"UnknownOnly", {"nosuch.lab", "other.lab"}, {}, {"nosuch.lab", "other.lab"}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// The system's half, with the one name every hosts file holds: no DNS.
TEST(LookUpHostName, FindsLocalhostInTheHostsFile) {
  EXPECT_EQ(LookUpHostName("localhost").address, Address{0x7F000001});
}

TEST(ExpandTargets, AcceptsExactlyTheCapAndRefusesOneMore) {
  EXPECT_EQ(ExpandTargets({"10.0.0.0-10.0.255.255"}).size(), kMostTargets);
  try {
    ExpandTargets({"10.0.0.0-10.0.255.255", "10.1.0.0"});
    FAIL() << "one address over the cap was accepted";
  } catch (const UsageError& error) {
    EXPECT_THAT(error.what(), HasSubstr("more than 65536"));
  }
}

TEST(ExpandTargets, RefusesAnEmptyList) { EXPECT_THROW(ExpandTargets({}), UsageError); }

struct TargetLines {
  const char* content;
  std::vector<std::string> targets;
};

void PrintTo(const TargetLines& c, std::ostream* os) { *os << testing::Quoted(c.content); }

class ReadTargetLinesOf : public ::testing::TestWithParam<TargetLines> {};

TEST_P(ReadTargetLinesOf, SkipsCommentsBlankLinesAndALeadingByteOrderMarkAndTrims) {
  std::istringstream file(GetParam().content);
  EXPECT_EQ(ReadTargetLines(file), GetParam().targets);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ReadTargetLinesOf,
    ::testing::Values(
        TargetLines{
            "# lab\n10.0.0.1\n\n  10.0.0.2-3  # two\r\n   # only a comment\n\t10.0.1.0/30\n",
            {"10.0.0.1", "10.0.0.2-3", "10.0.1.0/30"}},
        TargetLines{"\xEF\xBB\xBF"
                    "10.0.0.1\r\n10.0.0.2\r\n",
                    {"10.0.0.1", "10.0.0.2"}},
        TargetLines{"\xEF\xBB\xBF# saved by Notepad\n10.0.0.1", {"10.0.0.1"}},
        // Only the file's start may carry one.
        TargetLines{"10.0.0.1\n\xEF\xBB\xBF"
                    "10.0.0.2\n",
                    {"10.0.0.1",
                     "\xEF\xBB\xBF"
                     "10.0.0.2"}}),
    testing::kNumberedName);

// Each target is counted before it is expanded: a file that names the same
// block a million times costs a lookup per line, not an expansion.
TEST(ExpandTargets, RepeatedBlocksCostNoExpansion) {
  const std::vector<std::string> repeated(1'000'000, "10.0.0.0/16");
  EXPECT_EQ(ExpandTargets(repeated).size(), 65534U);
}

struct BadFile {
  const char* name;
  std::string content;  // written to the file; none: the path is a directory
  const char* reason;
};

void PrintTo(const BadFile& c, std::ostream* os) { *os << c.name; }

class BadTargetFile : public ::testing::TestWithParam<BadFile> {};

// Whatever a target file holds, the controller reads a bounded amount of it,
// and its message names the file and quotes little, masked.
TEST_P(BadTargetFile, IsAUsageErrorNamingTheFileAndQuotingLittle) {
  const testing::TemporaryFolder folder;
  const auto path = folder / GetParam().name;
  if (GetParam().content.empty()) {
    std::filesystem::create_directory(path);
  } else {
    std::ofstream(path, std::ios::binary) << GetParam().content;
  }
  std::string message;
  try {
    ExpandTargets(ReadTargetFile(path.string()));
    ADD_FAILURE() << "accepted";
  } catch (const UsageError& error) {
    message = error.what();
  }
  EXPECT_THAT(message, HasSubstr(GetParam().reason));
  EXPECT_LT(message.size(), 400U);
  EXPECT_EQ(message.find('\x1b'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, BadTargetFile,
    ::testing::Values(BadFile{"Directory", "", "is a directory"},
                      BadFile{"EndlessLine", std::string(kMostTargetLineBytes + 1, '\0'),
                              "line 1 is longer than 1024 bytes"},
                      BadFile{"TooLarge",
                              [] {
                                std::string lines;
                                while (lines.size() <= kMostTargetFileBytes) {
                                  lines += "10.0.0.1 # and a comment to fill the file a little\n";
                                }
                                return lines;
                              }(),
                              "longer than 16777216 bytes"},
                      BadFile{"LongBadTarget", "10.0.0." + std::string(1000, '\x1b') + "\n",
                              "bad target \"10.0.0.???"},
                      BadFile{"GarbageLine", "10.0.0.1\nthis is not an address\n",
                              "bad target \"this is not an address\""},
                      BadFile{"BinaryBytes", std::string("10.0.0.1\n\x01\xff\xfe\x7f\n", 14),
                              "bad target \"?\xff\xfe?\""},
                      BadFile{"LaterByteOrderMark",
                              "10.0.0.1\n\xEF\xBB\xBF"
                              "10.0.0.2\n",
                              "bad target \"?10.0.0.2\""},
                      BadFile{"ZeroBytes", std::string("10.0.0.1\n\0\0\0\n", 13),
                              "bad target \"???\""},
                      BadFile{"TooManyAddresses", "10.0.0.0/8\n", "65536"},
                      BadFile{"OnlyComments", "# nothing here\n\n", "no target"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadTargetFile, RefusesAFileThatCannotBeRead) {
  EXPECT_THROW(ReadTargetFile("/nonexistent/targets.txt"), UsageError);
}

struct LocalCase {
  std::vector<InterfaceNetwork> networks;
  std::vector<std::string> targets;  // empty: refused
  const char* refused = "";          // the network the refusal names
};

void PrintTo(const LocalCase& c, std::ostream* os) {
  for (const auto& network : c.networks) {
    *os << network.interfaceName << '/' << network.prefixLength << ' ';
  }
}

class LocalNetworks : public ::testing::TestWithParam<LocalCase> {};

TEST_P(LocalNetworks, BecomeOneTargetPerNetworkOrARefusalNamingIt) {
  const auto& c = GetParam();
  if (c.targets.empty()) {
    try {
      LocalNetworkTargets(c.networks);
      ADD_FAILURE() << "not refused";
    } catch (const UsageError& error) {
      EXPECT_THAT(error.what(),
                  AllOf(HasSubstr(c.networks.back().interfaceName), HasSubstr(c.refused)));
    }
    return;
  }
  EXPECT_EQ(LocalNetworkTargets(c.networks), c.targets);
}

constexpr Address k10_1_2_3 = 0x0A010203;

INSTANTIATE_TEST_SUITE_P(
    Targets, LocalNetworks,
    ::testing::Values(
        LocalCase{{{"eth0", k10_1_2_3, 24}}, {"10.1.2.0/24"}},
        LocalCase{{{"eth0", k10_1_2_3, 24}, {"wlan0", k10_1_2_3 + 1, 24}, {"br0", 0xC0A80001, 20}},
                  {"10.1.2.0/24", "192.168.0.0/20"}},
        LocalCase{{{"eth0", k10_1_2_3, 31}}, {"10.1.2.2/31"}},
        LocalCase{{{"eth0", k10_1_2_3, 32}}, {"10.1.2.3/32"}},
        LocalCase{{{"ppp0", k10_1_2_3, 32, 0x0A090909}}, {"10.9.9.9/32"}},
        LocalCase{{{"tun0", k10_1_2_3, 30, 0x0A010202}}, {"10.1.2.0/30"}},
        // ip addr add 10.7.0.1 peer 10.8.0.0/24: connected to the peer's network
        LocalCase{{{"tun1", 0x0A070001, 24, 0x0A080000}}, {"10.8.0.0/24"}},
        LocalCase{{{"eth0", k10_1_2_3, 16}}, {"10.1.0.0/16"}},
        LocalCase{{{"eth0", k10_1_2_3, 24}, {"eth1", 0x0A000001, 15}}, {}, "10.0.0.0/15"},
        LocalCase{{{"eth9", 0x0A000001, 0}}, {}, "0.0.0.0/0"}),
    testing::kNumberedName);

struct InterfaceCase {
  std::string name;
  std::vector<Address> kept;  // the named interface's networks; none: refused
  std::string refusal{};
};

void PrintTo(const InterfaceCase& c, std::ostream* os) { *os << c.name; }

class ChosenInterface : public ::testing::TestWithParam<InterfaceCase> {};

TEST_P(ChosenInterface, KeepsItsNetworksOrIsRefusedNamingThoseThereAre) {
  const std::vector<InterfaceNetwork> networks{
      {"eth0", k10_1_2_3, 24}, {"wlan0", k10_1_2_3 + 1, 24}, {"eth0", 0xC0A80001, 24}};
  try {
    std::vector<Address> kept;
    for (const auto& network : NetworksOf(networks, GetParam().name)) {
      kept.push_back(network.address);
    }
    EXPECT_EQ(kept, GetParam().kept);
  } catch (const UsageError& error) {
    EXPECT_EQ(error.what(), GetParam().refusal);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ChosenInterface,
    ::testing::Values(InterfaceCase{"eth0", {k10_1_2_3, 0xC0A80001}},
                      InterfaceCase{"wlan0", {k10_1_2_3 + 1}},
                      InterfaceCase{"eth1",
                                    {},
                                    "--interface eth1: no interface of that name is up with an "
                                    "IPv4 address (there are: eth0, wlan0)"}),
    [](const auto& info) { return testing::CaseName(info.param.name); });

}  // namespace
}  // namespace hostsweep::controller
