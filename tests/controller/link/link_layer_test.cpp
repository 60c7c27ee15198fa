#include "controller/link/link_layer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "controller/base/report_label.h"
#include "controller/link/vendors.h"
#include "tests/case_name.h"
#include "tests/temporary_folder.h"

namespace hostsweep::controller {
namespace {

using std::chrono::milliseconds;

struct MacCase {
  const char* text;
  const char* formatted;  // nullptr: not a MAC
  bool placeholder;
  bool local;
};

void PrintTo(const MacCase& c, std::ostream* os) { *os << testing::Quoted(c.text); }

class MacText : public ::testing::TestWithParam<MacCase> {};

TEST_P(MacText, ParsesTheWorkersAndOurFormatAndClassifies) {
  const auto& c = GetParam();
  const auto mac = ParseMac(c.text);
  ASSERT_EQ(mac.has_value(), c.formatted != nullptr) << c.text;
  if (mac) {
    EXPECT_EQ(FormatMac(*mac), c.formatted);
    EXPECT_EQ(IsPlaceholderMac(*mac), c.placeholder);
    EXPECT_EQ(IsLocallyAdministered(*mac), c.local);
  }
}

INSTANTIATE_TEST_SUITE_P(
    LinkLayer, MacText,
    ::testing::Values(MacCase{"00-1A-2B-3C-4D-5E", "00:1a:2b:3c:4d:5e", false, false},
                      MacCase{"00-1a-2b-3c-4d-5e", "00:1a:2b:3c:4d:5e", false, false},
                      MacCase{"00:1a:2b:3c:4d:5e", "00:1a:2b:3c:4d:5e", false, false},
                      MacCase{"00:1A:2B:3C:4D:5E", "00:1a:2b:3c:4d:5e", false, false},
                      MacCase{"00:1A-2B-3C-4D-5E", nullptr, false, false},
                      MacCase{"02-00-5E-10-00-0A", "02:00:5e:10:00:0a", false, true},
                      MacCase{"DA-A1-19-00-00-01", "da:a1:19:00:00:01", false, true},
                      MacCase{"00-00-00-00-00-00", "00:00:00:00:00:00", true, false},
                      MacCase{"FF-FF-FF-FF-FF-FF", "ff:ff:ff:ff:ff:ff", true, true},
                      MacCase{"", nullptr, false, false},
                      MacCase{"00-1A-2B-3C-4D", nullptr, false, false},
                      MacCase{"00-1A-2B-3C-4D-5G", nullptr, false, false},
                      MacCase{"00-1A-2B-3C-4D-5E-", nullptr, false, false},
                      MacCase{"+0-1A-2B-3C-4D-5E", nullptr, false, false}),
    testing::kNumberedName);

// Three registries whose blocks nest: 70-B3-D5 (MA-L), 70-B3-D5-1 (MA-M),
// 70-B3-D5-12-3 (MA-S); plus lines a registry file may hold that must not count.
VendorRegistry NestedRegistry() {
  VendorRegistry registry;
  std::istringstream large(
      "Registry,Assignment,Organization Name,Organization Address\n"
      "MA-L,70B3D5,Large Block Inc,Street 1\n"
      "MA-L,00D0EF,\"Quoted, Maker \"\"Q\"\"\",\"Street, 2\"\n"
      "MA-L,0050C2,  Padded Maker  \r\n"
      "MA-L,XYZ123,Not Hex,\n"
      "MA-L,00112,Five Digits,\n"
      "MA-L,001122,,\n");
  std::istringstream medium(
      "Registry,Assignment,Organization Name,Organization Address\n"
      "MA-M,70B3D51,Medium Block Ltd,\n");
  std::istringstream small(
      "Registry,Assignment,Organization Name,Organization Address\n"
      "MA-S,70B3D5123,Small Block GmbH,\n");
  registry.AddCsv(large);
  registry.AddCsv(medium);
  registry.AddCsv(small);
  return registry;
}

TEST(VendorRegistry, LongestAssignedPrefixWinsAndOddLinesAreSkipped) {
  const auto registry = NestedRegistry();
  EXPECT_EQ(registry.Size(), 5U);
  const std::pair<const char*, const char*> cases[] = {{"70-B3-D5-12-34-56", "Small Block GmbH"},
                                                       {"70-B3-D5-12-44-56", "Medium Block Ltd"},
                                                       {"70-B3-D5-1F-FF-FF", "Medium Block Ltd"},
                                                       {"70-B3-D5-20-00-00", "Large Block Inc"},
                                                       {"00-D0-EF-00-00-01", "Quoted, Maker \"Q\""},
                                                       {"00-50-C2-00-00-01", "Padded Maker"},
                                                       {"00-11-22-33-44-55", ""},
                                                       {"00-00-00-00-00-00", ""}};
  for (const auto& [mac, maker] : cases) {
    EXPECT_EQ(registry.Lookup(*ParseMac(mac)), maker) << mac;
  }
}

// What can sit where a registry file belongs; each must leave the others usable.
enum class Misplaced { kFifo, kDeviceLink, kDirectory, kOversized };

void PrintTo(Misplaced misplaced, std::ostream* os) {
  constexpr std::array kNames{"Fifo", "DeviceLink", "Directory", "Oversized"};
  *os << kNames.at(static_cast<std::size_t>(misplaced));
}

class UnusableRegistry : public ::testing::TestWithParam<Misplaced> {};

TEST_P(UnusableRegistry, IsLeftOutWithOneWarningWithoutBlocking) {
  const testing::TemporaryFolder folder;
  std::ofstream(folder / "mam.csv") << "Registry,Assignment,Organization Name,Address\n"
                                    << "MA-M,0022720,Good Maker,Somewhere\n";
  const auto misplaced = folder / "oui.csv";
  switch (GetParam()) {
    case Misplaced::kFifo:
      ASSERT_EQ(mkfifo(misplaced.c_str(), 0600), 0);
      break;
    case Misplaced::kDeviceLink:
      std::filesystem::create_symlink("/dev/zero", misplaced);
      break;
    case Misplaced::kDirectory:
      std::filesystem::create_directory(misplaced);
      break;
    case Misplaced::kOversized:
      std::ofstream(misplaced) << "Registry,Assignment,Organization Name,Address\n";
      std::filesystem::resize_file(misplaced, std::uintmax_t{1} << 30U);  // sparse
      break;
  }
  VendorRegistry registry;
  std::ostringstream warnings;
  EXPECT_EQ(LoadRegistries(folder.Path(), registry, warnings), 1U);
  EXPECT_EQ(registry.Lookup(*ParseMac("00-22-72-01-02-03")), "Good Maker");
  const std::string text = warnings.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_NE(text.find("oui.csv"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(LinkLayer, UnusableRegistry,
                         ::testing::Values(Misplaced::kFifo, Misplaced::kDeviceLink,
                                           Misplaced::kDirectory, Misplaced::kOversized),
                         testing::kNumberedName);

struct LinkCase {
  const char* what;
  State state;
  const char* netbiosMac;
  std::optional<const char*> neighbourMac;
  bool reachable;
  std::optional<long> sinceConfirmedMs;
  State expectedState;
  const char* expectedMac;
  MacSource expectedSource;
  const char* askedUnitId = "";  // what the controller's own NetBIOS question gave
};

void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.what; }

class LinkRule : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkRule, ChoosesTheMacAndTellsSilentFromDead) {
  const auto& c = GetParam();
  HostResult result{.address = 0x0A00000A, .probe = {.state = c.state, .netbiosMac = c.netbiosMac}};
  if (*c.askedUnitId != '\0') {
    result.names = ExtraNames{.unitId = ParseMac(c.askedUnitId)};
  }
  std::optional<NeighbourEntry> entry;
  if (c.neighbourMac) {
    entry = NeighbourEntry{
        .address = result.address, .mac = *ParseMac(*c.neighbourMac), .reachable = c.reachable};
    if (c.sinceConfirmedMs) {
      entry->sinceConfirmed = milliseconds(*c.sinceConfirmedMs);
    }
  }
  result.link = LinkFactsOf(entry ? &*entry : nullptr, milliseconds(2000));
  const HostView view = ViewOf(result, [](const MacAddress&) { return std::string("maker"); });
  EXPECT_EQ(view.state, c.expectedState);
  EXPECT_EQ(view.mac, ParseMac(c.expectedMac));
  EXPECT_EQ(view.macSource, c.expectedSource);
  EXPECT_EQ(view.vendor, view.mac ? "maker" : "");
  // The worker's report as every MAC is written; a garbled one as it came.
  const auto reported = ParseMac(c.netbiosMac);
  EXPECT_EQ(view.netbiosMac, reported ? FormatMac(*reported) : c.netbiosMac);
  EXPECT_EQ(view.echo, c.state == State::kAlive ? "alive" : "dead");
}

// This machine's own address has no neighbour entry: its row shows its
// interface's MAC, and says where that came from.
TEST(LinkLayerStage, GivesThisMachinesOwnAddressItsInterfacesMac) {
  const std::vector<Address> addresses{0x0A00000A, 0x0A00000B};
  const MacAddress own{0x02, 0x13, 0x00, 0x00, 0x00, 0x11};
  std::ostringstream diagnostics;
  LinkLayerStage stage([] { return std::vector<NeighbourEntry>{}; }, diagnostics, false, nullptr,
                       LinkLayerStage::Clock::now(), {{addresses[0], own}});
  ResultBook book(addresses);
  for (std::size_t position = 0; position < addresses.size(); ++position) {
    book.FileProbeReport(LabelOf(position) + ",1,64,,");
  }
  stage.Enrich(book, book.TakeFinished());
  const auto mine = ViewOf(book.Results()[0], {});
  EXPECT_EQ(mine.mac, own);
  EXPECT_EQ(mine.macSource, MacSource::kInterface);
  EXPECT_EQ(ViewOf(book.Results()[1], {}).mac, std::nullopt);
}

constexpr const char* kNeighbour = "00-22-72-00-00-0A";
constexpr const char* kNetbios = "00-D0-EF-00-00-0E";

INSTANTIATE_TEST_SUITE_P(
    LinkLayer, LinkRule,
    ::testing::Values(
        LinkCase{"neighbour beats netbios", State::kAlive, kNetbios, kNeighbour, true, 5,
                 State::kAlive, kNeighbour, MacSource::kNeighbour},
        LinkCase{"stale entry still gives the mac", State::kAlive, "", kNeighbour, false, 90000,
                 State::kAlive, kNeighbour, MacSource::kNeighbour},
        LinkCase{"no entry: netbios", State::kAlive, kNetbios, std::nullopt, false, std::nullopt,
                 State::kAlive, kNetbios, MacSource::kNetbios},
        LinkCase{"lower-case netbios read", State::kAlive, "00-d0-ef-00-00-0e", std::nullopt, false,
                 std::nullopt, State::kAlive, kNetbios, MacSource::kNetbios},
        LinkCase{"samba zeros are no mac", State::kAlive, "00-00-00-00-00-00", std::nullopt, false,
                 std::nullopt, State::kAlive, "", MacSource::kNone},
        LinkCase{"junk ones are no mac", State::kAlive, "FF-FF-FF-FF-FF-FF", std::nullopt, false,
                 std::nullopt, State::kAlive, "", MacSource::kNone},
        LinkCase{"garbled netbios is no mac", State::kAlive, "00-D0-EF", std::nullopt, false,
                 std::nullopt, State::kAlive, "", MacSource::kNone},
        LinkCase{"dead, reachable entry of unknown age: silent", State::kDead, "", kNeighbour, true,
                 std::nullopt, State::kSilent, kNeighbour, MacSource::kNeighbour},
        LinkCase{"dead, reachable but confirmed before the sweep: dead", State::kDead, "",
                 kNeighbour, true, 2500, State::kDead, kNeighbour, MacSource::kNeighbour},
        LinkCase{"dead, confirmed during the sweep: silent", State::kDead, "", kNeighbour, false,
                 1500, State::kSilent, kNeighbour, MacSource::kNeighbour},
        LinkCase{"dead, stale from before the sweep: dead", State::kDead, "", kNeighbour, false,
                 2500, State::kDead, kNeighbour, MacSource::kNeighbour},
        LinkCase{"all-zero entry is no entry", State::kDead, kNetbios, "00-00-00-00-00-00", true,
                 std::nullopt, State::kDead, kNetbios, MacSource::kNetbios},
        LinkCase{"dead, no entry: dead", State::kDead, "", std::nullopt, false, std::nullopt,
                 State::kDead, "", MacSource::kNone},
        LinkCase{"routed, named by our question: its unit ID", State::kAlive, "", std::nullopt,
                 false, std::nullopt, State::kAlive, kNetbios, MacSource::kNetbios, kNetbios},
        LinkCase{"the worker's unit ID before our question's", State::kAlive, kNetbios,
                 std::nullopt, false, std::nullopt, State::kAlive, kNetbios, MacSource::kNetbios,
                 "00-D0-EF-00-00-99"},
        LinkCase{"neighbour before our question's unit ID", State::kAlive, "", kNeighbour, true,
                 std::nullopt, State::kAlive, kNeighbour, MacSource::kNeighbour, kNetbios}),
    [](const auto& info) { return testing::CaseName(info.param.what); });

}  // namespace
}  // namespace hostsweep::controller
