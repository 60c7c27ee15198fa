// Every text a JSON line, a watch line, a state record, an event (a webhook's
// body) or an MQTT document carries, written with hostile text: it reads back
// as it was, each writes its name in the same bytes, and none of its control
// or direction characters is left raw to act on a terminal or page.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "controller/base/printable.h"
#include "controller/history/earlier_results.h"
#include "controller/history/watch.h"
#include "controller/notify/mqtt_messages.h"
#include "controller/notify/webhook_request.h"
#include "controller/output/json_output.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

struct HostileText {
  const char* what;
  std::string text;
};

void PrintTo(const HostileText& row, std::ostream* out) { *out << row.what; }

std::string Repeated(std::string_view piece, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) {
    text += piece;
  }
  return text;
}

// The JSON string after the first `"key":`, quotes and escapes as written.
std::string Written(const std::string& document, const std::string& key) {
  const std::size_t open = document.find('"', document.find('"' + key + "\":") + key.size() + 3);
  std::size_t close = open + 1;
  while (document[close] != '"') {
    close += document[close] == '\\' ? 2 : 1;
  }
  return document.substr(open, close + 1 - open);
}

// An indented document's own line breaks aside.
bool HoldsNoControlRaw(std::string bytes) {
  std::erase(bytes, '\n');
  return Printable(bytes) == bytes && ValidUtf8(bytes) == bytes;
}

class HostileTextRoundTrip : public ::testing::TestWithParam<HostileText> {};

TEST_P(HostileTextRoundTrip, ReadsBackAsItWasWithNoControlRaw) {
  const std::string& text = GetParam().text;
  // Bytes that are not UTF-8 read back as U+FFFD, the rest as written.
  const std::string readBack = ValidUtf8(text);
  const SeenHost host{.address = 0x0A000005U,
                      .name = text,
                      .mac = ParseMac("00-1A-2B-3C-4D-01"),
                      .macSource = MacSource::kNeighbour};
  const HostView view{.address = host.address,
                      .state = State::kAlive,
                      .name = text,
                      .mac = host.mac,
                      .macSource = host.macSource,
                      .vendor = text,
                      .workgroup = text,
                      .netbiosMac = text,
                      .ipv6 = {text},
                      .change = RowChange{.change = Change::kRenamed, .previous = text}};
  const WatchEvent event{
      .when = 1, .change = Change::kRenamed, .host = host, .previous = text, .lastSeen = 1};
  const std::vector<KnownHost> state{{.host = host, .present = true, .lastSeen = 1}};
  const std::string line = JsonLine(view, true);
  const std::string watchLine = WatchLine(
      event, [&text](const MacAddress&) { return text; }, WatchLineForm::kJson);
  const std::string stateFile = StateDocument(state);
  const Event told{.id = 1, .kind = Change::kNew, .device = 7, .host = host};
  const std::string webhook =
      MakeWebhookRequest({told, EventJson(told)}, WebhookFormat::kJson).body;
  const std::string mqttState = DeviceStateJson({.id = 7, .host = host});
  const std::string discovery = DiscoveryJson("hostsweep", {.id = 7, .host = host});

  auto readState = state;
  readState[0].host.name = readBack;
  EXPECT_EQ(ParseState(stateFile), readState);
  SeenHost fromLine = readState[0].host;
  fromLine.deviceIpv6 = {readBack};
  EXPECT_EQ(ParseSweepLines(line).found.at(0), fromLine);
  const std::vector<std::pair<std::string, std::vector<const char*>>> texts{
      {line, {"name", "vendor", "workgroup", "netbios_mac", "previous"}},
      {watchLine, {"name", "vendor", "previous"}}};
  for (const auto& [written, keys] : texts) {
    const auto parsed = nlohmann::json::parse(written);
    for (const char* key : keys) {
      EXPECT_EQ(parsed.at(key), readBack) << key;
    }
  }
  EXPECT_EQ(nlohmann::json::parse(line).at("ipv6").at(0), readBack);
  for (const std::string* written :
       {&line, &watchLine, &stateFile, &webhook, &mqttState, &discovery}) {
    EXPECT_TRUE(HoldsNoControlRaw(*written)) << *written;
    EXPECT_NE(written->find(Written(line, "name")), std::string::npos) << *written;
  }
}

// NOLINTBEGIN(misc-misleading-bidirectional)
INSTANTIATE_TEST_SUITE_P(
    JsonDocuments, HostileTextRoundTrip,
    ::testing::Values(HostileText{"quotes and backslashes", R"(say "hi"\ {"key": [1]})"},
                      HostileText{"direction characters",
                                  "txt.\xE2\x80\xAE"
                                  "exe \xE2\x81\xA6x\xE2\x81\xA9"},
                      HostileText{"C1 and DEL",
                                  "c1\xC2\x9B"
                                  "2J\x7F"},
                      HostileText{"C0 controls", "tab\tnew\nline\x01\x1B[2J"},
                      HostileText{"text that is not UTF-8",
                                  "pc\xE9 \x9B"
                                  "2J"},
                      HostileText{"other text", "caf\xC3\xA9 \xE5\x90\x8D"},
                      HostileText{"very long text", Repeated("\xE2\x80\xAE\"\\\x7F\x1B", 300)}),
    testing::kNumberedName);
// NOLINTEND(misc-misleading-bidirectional)

}  // namespace
}  // namespace hostsweep::controller
