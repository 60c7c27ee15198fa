// Every JSON document hostsweep writes escapes a hostile name alike: what
// steers a terminal or reorders a line is an escape wherever it is read.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "controller/events/event.h"
#include "controller/history/earlier_results.h"
#include "controller/notify/mqtt_messages.h"
#include "controller/notify/webhook_request.h"
#include "controller/output/json_output.h"
#include "controller/state/history_output.h"

namespace hostsweep::controller {
namespace {

// Right-to-left override, left-to-right isolate, a C1 CSI, DEL.
constexpr std::string_view kHostile = "evil\u202e\u2066\xc2\x9b\x7fname";
constexpr std::string_view kEscaped = R"("evil\u202e\u2066\u009b\u007fname")";

SeenHost Host() {
  SeenHost host{.address = 0x0A000007, .mac = MacAddress{0x00, 0x1A, 0, 0, 0, 0x07}};
  host.name = std::string(kHostile);
  return host;
}

DeviceStatus Status() { return {.id = 7, .host = Host(), .present = true}; }

Event Told() { return {.id = 1, .time = 100, .kind = Change::kNew, .device = 7, .host = Host()}; }

struct Document {
  const char* name;
  std::function<std::string()> text;
};

void PrintTo(const Document& d, std::ostream* os) { *os << d.name; }

class HostileNameInJson : public ::testing::TestWithParam<Document> {};

TEST_P(HostileNameInJson, IsEscapedAlikeInEveryDocument) {
  const std::string text = GetParam().text();
  EXPECT_NE(text.find(kEscaped), std::string::npos) << text;
  for (const std::string_view raw : {"\u202e", "\u2066", "\xc2\x9b", "\x7f"}) {
    EXPECT_EQ(text.find(raw), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    JsonPolicy, HostileNameInJson,
    ::testing::Values(
        Document{"JsonLines",
                 [] {
                   return JsonLine({.address = 0x0A000007,
                                    .state = State::kAlive,
                                    .name = std::string(kHostile)});
                 }},
        Document{"WatchState", [] { return StateDocument({{.host = Host()}}); }},
        Document{
            "StateDatabaseHistory",
            [] {
              return HistoryEntry(
                  {.address = "10.0.0.7", .name = std::string(kHostile), .mac = "", .vendor = ""},
                  Format::kJson, nullptr);
            }},
        Document{
            "WebhookBody",
            [] {
              return MakeWebhookRequest({Told(), EventJson(Told())}, WebhookFormat::kJson).body;
            }},
        Document{"MqttDeviceState", [] { return DeviceStateJson(Status()); }},
        Document{"MqttDiscovery", [] { return DiscoveryJson("hostsweep", Status()); }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hostsweep::controller
