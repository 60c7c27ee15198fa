#include "controller/leases/lease_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

constexpr Address k10_0_0_5 = 0x0A000005;
constexpr Address k10_0_0_6 = 0x0A000006;
const auto kLaptop = ParseMac("00:1a:2b:3c:4d:5e");
constexpr std::int64_t kEnds = 1765324800;  // 2025-12-10 00:00:00 UTC

struct Read {
  std::string name;
  std::string text;
  std::vector<Lease> leases;
};

void PrintTo(const Read& read, std::ostream* os) { *os << read.name; }

class LeaseFormats : public ::testing::TestWithParam<Read> {};

TEST_P(LeaseFormats, GiveEachAddressItsMacNameAndEnd) {
  EXPECT_EQ(ParseLeaseFile(GetParam().text), GetParam().leases);
}

constexpr const char* kKeaHeader =
    "address,hwaddr,client_id,valid_lifetime,expire,subnet_id,fqdn_fwd,fqdn_rev,hostname,state,"
    "user_context,pool_id\n";

INSTANTIATE_TEST_SUITE_P(
    Leases, LeaseFormats,
    ::testing::Values(
        Read{"dnsmasq with DHCPv6 leases after its v4 ones",
             "1765324800 00:1a:2b:3c:4d:5e 10.0.0.5 laptop 01:00:1a:2b:3c:4d:5e\n"
             "0 32-00:01:02 10.0.0.6 * *\n"
             "duid 00:01:00:01:2c:aa\n"
             "1765324800 1234 2001:db8::5 laptop 00:01:00:01\n",
             {{.address = k10_0_0_5, .mac = kLaptop, .hostName = "laptop", .ends = kEnds},
              {.address = k10_0_0_6}}},
        Read{"dhcpd journal with a host block and a freed lease",
             "# The format of this file is documented in the dhcpd.leases(5) manual page.\n"
             "authoring-byte-order little-endian;\n"
             "host fixed {\n  dynamic;\n  hardware ethernet 00:1a:2b:3c:4d:5f;\n}\n"
             "lease 10.0.0.5 {\n  starts 3 2025/12/09 12:00:00;\n  ends 3 2025/12/10 00:00:00;\n"
             "  binding state active;\n  next binding state free;\n"
             "  hardware ethernet 00:1a:2b:3c:4d:5e;\n  uid \"\\001{#;\";\n"
             "  client-hostname \"laptop\";\n}\n"
             "lease 10.0.0.6 {\n  ends epoch 1765324800; # Wed Dec 10 00:00:00 2025\n"
             "  binding state free;\n  client-hostname \"<b>x</b>\";\n}\n",
             {{.address = k10_0_0_5, .mac = kLaptop, .hostName = "laptop", .ends = kEnds},
              {.address = k10_0_0_6, .ends = kEnds, .bound = false}}},
        Read{"Kea CSV with a reclaimed and a deleted lease",
             std::string(kKeaHeader) +
                 "10.0.0.5,00:1a:2b:3c:4d:5e,,3600,1765324800,1,0,0,laptop.lan.,0,,0\r\n"
                 "10.0.0.6,,,3600,1765324800,1,0,0,,2,,0\n"
                 "10.0.0.5,00:1a:2b:3c:4d:5e,,0,1765324800,1,0,0,laptop,0,,0\n",
             {{.address = k10_0_0_5, .mac = kLaptop, .hostName = "laptop.lan", .ends = kEnds},
              {.address = k10_0_0_6, .ends = kEnds, .bound = false},
              {.address = k10_0_0_5,
               .mac = kLaptop,
               .hostName = "laptop",
               .ends = kEnds,
               .bound = false}}},
        Read{"an empty file", "", {}}),
    [](const auto& info) { return testing::CaseName(info.param.name); });

struct Refusal {
  std::string name;
  std::string text;
  std::string message;
};

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }

class HostileLeaseFiles : public ::testing::TestWithParam<Refusal> {};

TEST_P(HostileLeaseFiles, AreRefusedByLine) {
  try {
    ParseLeaseFile(GetParam().text);
    ADD_FAILURE() << "accepted";
  } catch (const LeaseFileError& refused) {
    EXPECT_EQ(std::string(refused.what()), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Leases, HostileLeaseFiles,
    ::testing::Values(
        Refusal{
            "a line too long",
            "0 00:1a:2b:3c:4d:5e 10.0.0.5 * *\n0 " + std::string(kMostLeaseLineBytes, 'x') + "\n",
            "2: longer than 4096 bytes"},
        Refusal{"a bad MAC", "0 00:1a:2b:3c:4d 10.0.0.5 * *\n", "1: bad MAC \"00:1a:2b:3c:4d\""},
        Refusal{"a bad address", "0 00:1a:2b:3c:4d:5e 10.0.0.256 * *\n",
                "1: bad address \"10.0.0.256\""},
        Refusal{"binary bytes", std::string("0 00:1a:2b:3c:4d:5e 10.0.0.5 a") + '\0' + "b *\n",
                "1: binary bytes"},
        Refusal{"a last line cut short", "0 00:1a:2b:3c:4d:5e 10.0.0.5 * *\n0 00:1a",
                "2: cut short: the last line has no end"},
        Refusal{"a dhcpd block cut short",
                "lease 10.0.0.5 {\n  ends never;\n}\nlease 10.0.0.6 {\n  ends never;\n",
                "4: a block that never ends: the file was cut short"},
        Refusal{"a dhcpd time that is none", "lease 10.0.0.5 {\n  ends 3 2025/02/30 00:00:00;\n}\n",
                "2: bad time \"3...\""},
        Refusal{"Kea rows without the header", "10.0.0.5,00:1a:2b:3c:4d:5e,,3600,1,1,0,0,,0,,0\n",
                "1: CSV without Kea's header line (address,hwaddr,...)"},
        Refusal{"a Kea row of too few fields", std::string(kKeaHeader) + "10.0.0.5,,,3600\n",
                "2: 4 fields, not 12"},
        Refusal{"no lease file at all", "\n<html>\n",
                "2: neither dnsmasq's, dhcpd's nor Kea's lease file"}),
    [](const auto& info) { return testing::CaseName(info.param.name); });

}  // namespace
}  // namespace hostsweep::controller
