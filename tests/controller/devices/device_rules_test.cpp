// The shipped rule table: what each kind of announcement makes of a device,
// the strongest evidence winning, and nothing where nothing was announced.
#include "controller/devices/device_rules.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>

#include "controller/base/errors.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

struct RuleCase {
  const char* what;
  std::vector<Announcement> said;
  DeviceFacts expected;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.what; }

const DeviceRules& Shipped() {
  static const DeviceRules rules = [] {
    std::ostringstream diagnostics;
    auto read = ReadDeviceRules(HOSTSWEEP_DEVICE_RULES, diagnostics);
    EXPECT_TRUE(read.has_value()) << diagnostics.str();
    return read.value_or(DeviceRules{});
  }();
  return rules;
}

class Rules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(Rules, TheStrongestAnnouncementGivesEachField) {
  const auto& param = GetParam();
  EXPECT_EQ(Shipped().Apply(param.said), param.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Shipped, Rules,
    ::testing::Values(
        RuleCase{"nothing announced", {}, {}},
        RuleCase{"a service no rule knows", {{"mdns:service", "_ssh._tcp"}}, {}},
        RuleCase{"the MAC's maker is no evidence", {{"mac:vendor", "Apple, Inc."}}, {}},
        RuleCase{"an IPP printer, its model from ty",
                 {{"mdns:service", "_ipp._tcp"}, {"mdns:_ipp._tcp:ty", "HP LaserJet 400"}},
                 {.type = "printer", .model = "HP LaserJet 400", .typeFrom = TypeSource::kMdns}},
        RuleCase{"the IEEE 1284 maker and model outrank ty",
                 {{"mdns:_ipp._tcp:ty", "LJ 400"},
                  {"mdns:_IPP._tcp:USB_MDL", "LaserJet 400 M401dne"},
                  {"mdns:_ipp._tcp:usb_MFG", "HP"},
                  {"mdns:service", "_ipp._tcp"}},
                 {.type = "printer",
                  .make = "HP",
                  .model = "LaserJet 400 M401dne",
                  .typeFrom = TypeSource::kMdns}},
        RuleCase{"HomeKit camera",
                 {{"mdns:_hap._tcp:ci", "17"}, {"mdns:service", "_hap._tcp"}},
                 {.type = "webcam", .typeFrom = TypeSource::kMdns}},
        RuleCase{"a Time Machine disk alone is no NAS", {{"mdns:service", "_adisk._tcp"}}, {}},
        RuleCase{"a Time Machine disk over SMB; its UPnP media server is weaker",
                 {{"ssdp:deviceType", "urn:schemas-upnp-org:device:MediaServer:1"},
                  {"mdns:service", "_adisk._tcp"},
                  {"mdns:service", "_smb._tcp"}},
                 {.type = "storage-misc", .typeFrom = TypeSource::kMdns}},
        RuleCase{"Chromecast",
                 {{"mdns:service", "_googlecast._tcp"},
                  {"mdns:_googlecast._tcp:md", "Chromecast Ultra"}},
                 {.type = "media device",
                  .make = "Google",
                  .model = "Chromecast Ultra",
                  .typeFrom = TypeSource::kMdns}},
        RuleCase{
            "a UPnP router with its maker and model",
            {{"ssdp:deviceType", "urn:schemas-upnp-org:device:InternetGatewayDevice:2"},
             {"ssdp:manufacturer", "Netgear"},
             {"ssdp:modelName", "R7000"},
             {"mdns:service", "_workstation._tcp"}},
            {.type = "router", .make = "Netgear", .model = "R7000", .typeFrom = TypeSource::kSsdp}},
        RuleCase{
            "a Mac, by its model identifier",
            {{"mdns:_device-info._tcp:model", "MacBookPro18,3"}, {"mdns:service", "_airplay._tcp"}},
            {.type = "general purpose",
             .make = "Apple",
             .model = "MacBookPro18,3",
             .typeFrom = TypeSource::kMdns}},
        RuleCase{"a NetBIOS file server",
                 {{"netbios:suffix", "00"}, {"netbios:suffix", "20"}},
                 {.type = "general purpose", .typeFrom = TypeSource::kNetbios}},
        RuleCase{"a NetBIOS workstation name alone says nothing", {{"netbios:suffix", "00"}}, {}},
        RuleCase{"the workstation service outranks NetBIOS",
                 {{"netbios:suffix", "20"}, {"mdns:service", "_workstation._tcp"}},
                 {.type = "general purpose", .typeFrom = TypeSource::kMdns}}),
    testing::kNumberedName);

struct TableCase {
  const char* table;
  const char* error;  // empty: read
};

void PrintTo(const TableCase& c, std::ostream* os) { *os << testing::Quoted(c.table); }

class RuleTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(RuleTable, RefusesWhatIsNoRuleNamingItsLine) {
  const auto& param = GetParam();
  std::string error;
  try {
    DeviceRules::Parse(param.table);
  } catch (const UsageError& e) {
    error = e.what();
  }
  EXPECT_EQ(error, param.error) << param.table;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RuleTable,
    ::testing::Values(
        TableCase{"# comment\r\n\n10\tmdns:service=_x._tcp & netbios:suffix=2*\tphone\t-\t$\n", ""},
        TableCase{"\n10\tmdns:service=_x._tcp\tphone\t-\n",
                  "line 2: not five tab-separated fields"},
        TableCase{"x\tmdns:service=a\tphone\t-\t-", "line 1: the priority is not a number"},
        TableCase{"10\tmac:vendor=Apple*\tphone\t-\t-",
                  "line 1: a condition is not source:key=pattern"},
        TableCase{"10\tmdns:service\tphone\t-\t-", "line 1: a condition is not source:key=pattern"},
        TableCase{"10\tmdns:service=*\t$\t-\t-",
                  "line 1: a type is named, never taken from the device"}),
    testing::kNumberedName);

TEST(RulePattern, StarsMatchAnyRunAndCaseIsIgnored) {
  for (const auto& [value, pattern, matches] :
       std::vector<std::tuple<std::string, std::string, bool>>{
           {"urn:x:device:MediaServer:1", "urn:x:device:mediaserver:*", true},
           {"abcabd", "*ab*d", true},
           {"", "*", true},
           {"a", "", false},
           {"MacSamba", "MacBook*", false},
           {std::string(5000, 'a'), std::string(50, '*') + "b", false}}) {
    EXPECT_EQ(MatchesPattern(value, pattern), matches) << value.substr(0, 20) << " ~ " << pattern;
  }
}

}  // namespace
}  // namespace hostsweep::controller
