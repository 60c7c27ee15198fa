#include "controller/events/event.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

Event Gone() {
  return {.id = 41,
          .time = 1'796'000'000,
          .kind = Change::kGone,
          .device = 7,
          .host = {.address = 0x0A00000CU,
                   .name = "printer",
                   .mac = MacAddress{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x02},
                   .type = "printer",
                   .model = "HL \"2350\"\n",
                   .seenBy = SeenBy::kDhcp},
          .vendor = "Maker, Inc.",
          .known = {.known = true, .alias = "hall printer", .owner = "office"},
          .firstSeen = 1'795'000'000,
          .lastSeen = 1'795'999'940};
}

std::string EnvironmentValue(const Event& event, const std::string& name) {
  const auto environment = EventEnvironment(event);
  const auto found = std::find_if(environment.begin(), environment.end(),
                                  [&name](const auto& pair) { return pair.first == name; });
  return found != environment.end() ? found->second : "(unset)";
}

constexpr MacAddress kOther{0x02, 0x00, 0x5E, 0x10, 0x00, 0x29};

// The printer's address answered from a second MAC too (`otherMac`), or
// its MAC answered for 20 addresses.
Event Conflict(Change kind, bool shared) {
  Event event = Gone();
  event.kind = kind;
  event.conflict =
      shared
          ? LinkConflict{.mac = *event.host.mac, .addresses = 20}
          : LinkConflict{.address = event.host.address, .mac = *event.host.mac, .otherMac = kOther};
  return event;
}

// What the queues keep must come back as the event told: the sinks build
// their environment, topics and summaries from it.
TEST(EventJson, ReadsBackWhatItWrote) {
  Event ipv6Only = Gone();
  ipv6Only.host = {.ipv6 = "fd00::12"};
  ipv6Only.kind = Change::kMoved;
  ipv6Only.previous = "fd00::11";
  ipv6Only.vendor.clear();
  ipv6Only.known = {};
  for (const Event& event : {Gone(), ipv6Only, Conflict(Change::kConflict, false),
                             Conflict(Change::kConflictEnded, true)}) {
    EXPECT_EQ(ParseEventJson(EventJson(event)), event) << EventJson(event);
  }
  for (const char* broken : {"", "{}", R"({"id":1,"time":"x","kind":"new","device":{}})",
                             R"({"id":1,"time":"2026-12-09T10:00:00Z","kind":"eaten"})"}) {
    EXPECT_EQ(ParseEventJson(broken), std::nullopt) << broken;
  }
}

struct PeopleCase {
  const char* what;
  KnownFacts known;
  std::string summary;
};

void PrintTo(const PeopleCase& c, std::ostream* os) { *os << c.what; }

class ToldToPeople : public ::testing::TestWithParam<PeopleCase> {};

// The summary and the command's environment name the device as its owner
// does: its alias, and whose it is.
TEST_P(ToldToPeople, NameTheDeviceAsTheInventoryDoes) {
  Event event = Gone();
  event.known = GetParam().known;
  EXPECT_EQ(EventSummary(event), GetParam().summary);
  const auto value = [&event](const std::string& name) { return EnvironmentValue(event, name); };
  EXPECT_EQ(value("HOSTSWEEP_EVENT_NAME"), "printer");
  EXPECT_EQ(value("HOSTSWEEP_EVENT_ALIAS"), GetParam().known.alias);
  EXPECT_EQ(value("HOSTSWEEP_EVENT_OWNER"), GetParam().known.owner);
}

INSTANTIATE_TEST_SUITE_P(
    Events, ToldToPeople,
    ::testing::Values(
        PeopleCase{"alias and owner",
                   {.known = true, .alias = "hall printer", .owner = "office"},
                   "gone: 10.0.0.12 hall printer (00:1a:2b:3c:4d:02 Maker, Inc.), owner office"},
        PeopleCase{"owner alone",
                   {.known = true, .owner = "office"},
                   "gone: 10.0.0.12 printer (00:1a:2b:3c:4d:02 Maker, Inc.), owner office"},
        PeopleCase{
            "not in the inventory", {}, "gone: 10.0.0.12 printer (00:1a:2b:3c:4d:02 Maker, Inc.)"}),
    testing::kNumberedName);

struct ConflictCase {
  const char* what;
  Event event;
  std::string json;  // the "conflict" object
  std::string summary;
  std::string otherMac;   // HOSTSWEEP_EVENT_OTHER_MAC
  std::string addresses;  // HOSTSWEEP_EVENT_ADDRESSES
};

void PrintTo(const ConflictCase& c, std::ostream* os) { *os << c.what; }

class ConflictTold : public ::testing::TestWithParam<ConflictCase> {};

// Every receiver learns what was heard: both MACs and the address, or the
// MAC and how many addresses it answered for.
TEST_P(ConflictTold, SaysWhatWasHeard) {
  const ConflictCase& c = GetParam();
  const Json line = Json::parse(EventJson(c.event));
  EXPECT_EQ(line.at("conflict").dump(), c.json);
  EXPECT_EQ(line.at("kind"), ChangeText(c.event.kind));
  EXPECT_EQ(EventSummary(c.event), c.summary);
  const auto value = [&c](const std::string& name) { return EnvironmentValue(c.event, name); };
  EXPECT_EQ(value("HOSTSWEEP_EVENT_OTHER_MAC"), c.otherMac);
  EXPECT_EQ(value("HOSTSWEEP_EVENT_ADDRESSES"), c.addresses);
  EXPECT_EQ(value("HOSTSWEEP_EVENT_ADDRESS"), "10.0.0.12");
}

INSTANTIATE_TEST_SUITE_P(
    Conflicts, ConflictTold,
    ::testing::Values(
        ConflictCase{
            "an address conflict starts", Conflict(Change::kConflict, false),
            R"({"kind":"address","address":"10.0.0.12","macs":["00:1a:2b:3c:4d:02","02:00:5e:10:00:29"]})",
            "conflict: 10.0.0.12 hall printer (00:1a:2b:3c:4d:02 Maker, Inc.), owner office, "
            "02:00:5e:10:00:29 answers for it too",
            "02:00:5e:10:00:29", ""},
        ConflictCase{
            "an address conflict ends", Conflict(Change::kConflictEnded, false),
            R"({"kind":"address","address":"10.0.0.12","macs":["00:1a:2b:3c:4d:02","02:00:5e:10:00:29"]})",
            "conflict-ended: 10.0.0.12 hall printer (00:1a:2b:3c:4d:02 Maker, Inc.), owner "
            "office, 02:00:5e:10:00:29 no longer answers for it",
            "02:00:5e:10:00:29", ""},
        ConflictCase{"a shared MAC starts", Conflict(Change::kConflict, true),
                     R"({"kind":"shared-mac","macs":["00:1a:2b:3c:4d:02"],"addresses":20})",
                     "conflict: 10.0.0.12 hall printer (00:1a:2b:3c:4d:02 Maker, Inc.), owner "
                     "office, answering for 20 addresses",
                     "", "20"}),
    testing::kNumberedName);

TEST(EventSummary, IsOnePrintableLine) {
  Event renamed = Gone();
  renamed.kind = Change::kRenamed;
  renamed.known = {};
  renamed.host.name = "evil\x1b[2J";
  renamed.previous = "printer";
  EXPECT_EQ(EventSummary(renamed).find('\x1b'), std::string::npos);
  EXPECT_NE(EventSummary(renamed).find(", was printer"), std::string::npos);
}

}  // namespace
}  // namespace hostsweep::controller
