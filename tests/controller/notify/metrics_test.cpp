#include "controller/notify/metrics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "controller/base/errors.h"
#include "controller/notify/metrics_http.h"
#include "tests/temporary_folder.h"

namespace hostsweep::controller {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;

DeviceStatus Device(std::int64_t id, const char* address, const char* name, bool present,
                    std::int64_t lastSeen) {
  DeviceStatus device;
  device.id = id;
  device.host.address = *ParseAddress(address);
  device.host.name = name;
  device.present = present;
  device.lastSeen = lastSeen;
  return device;
}

SweepReport Escapes() {
  auto device = Device(7, "10.0.0.10", "a\"b\\c\nd\xff", true, kNow);
  device.host.mac = ParseMac("00:22:72:00:00:0a");
  device.host.type = "printer";
  device.known.alias = "desk\x1b[2J";
  return {kNow, std::chrono::milliseconds(2345), 254, {device}, {}, {}, {}};
}

// Present, missing, away within a day, away for longer; 1001 more away within
// a day, of which the most recent 999 keep a series beside the first.
SweepReport Counted() {
  auto missing = Device(2, "10.0.0.2", "nas", false, kNow - 7 * std::int64_t{86400});
  missing.missing = true;
  SweepReport report{kNow,
                     std::chrono::milliseconds(60'007),
                     65536,
                     {Device(1, "10.0.0.1", "up", true, kNow), missing,
                      Device(3, "10.0.0.3", "left", false, kNow - 3600),
                      Device(4, "10.0.0.4", "old", false, kNow - 86401)},
                     {{Change::kNew, 3}, {Change::kMissing, 1}},
                     {{"webhook", 2, 5}, {"mqtt", 0, 0}},
                     {{.address = 0x0A000029U, .mac = {}, .otherMac = MacAddress{}},
                      {.mac = {}, .addresses = 20},
                      {.address = 0x0A00002AU, .mac = {}, .otherMac = MacAddress{}}}};
  for (int i = 0; i < 1000; ++i) {
    report.devices.push_back(Device(
        100 + i, ("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1)).c_str(),
        "", false, kNow - 7200 - i));
  }
  return report;
}

// The device_up and device_info lines of a device with no MAC, alias or type.
std::string Up(int id, int up) {
  return R"(hostsweep_device_up{device=")" + std::to_string(id) + R"(",mac=""} )" +
         std::to_string(up);
}
std::string Info(int id, const std::string& address, const std::string& name) {
  return R"(hostsweep_device_info{device=")" + std::to_string(id) + R"(",mac="",address=")" +
         address + R"(",name=")" + name + R"(",alias="",type=""} 1)";
}

struct MetricsCase {
  const char* what;
  SweepReport report;
  std::vector<std::string> lines;  // each must be a line of the text
  std::size_t devices;             // with a series of each
};

std::vector<MetricsCase> Cases() {
  return {
      {"empty",
       {},
       {"hostsweep_devices{state=\"present\"} 0", "hostsweep_devices{state=\"away\"} 0",
        "hostsweep_sweep_duration_seconds 0.000", "hostsweep_last_sweep_timestamp_seconds 0",
        "hostsweep_events_total{kind=\"mac-changed\"} 0", "# TYPE hostsweep_events_total counter",
        "hostsweep_events_total{kind=\"conflict\"} 0",
        "hostsweep_link_conflicts{kind=\"address\"} 0"},
       0},
      {"escapes",
       Escapes(),
       {R"(hostsweep_device_up{device="7",mac="00:22:72:00:00:0a"} 1)",
        R"(hostsweep_device_info{device="7",mac="00:22:72:00:00:0a",address="10.0.0.10",)"
        "name=\"a\\\"b\\\\c\\nd\xef\xbf\xbd\",alias=\"desk?[2J\",type=\"printer\"} 1",
        "hostsweep_sweep_duration_seconds 2.345", "hostsweep_addresses_swept 254"},
       1},
      {"counted",
       Counted(),
       {Up(1, 1),
        Info(1, "10.0.0.1", "up"),
        Up(2, 0),
        Info(2, "10.0.0.2", "nas"),
        Up(3, 0),
        Up(1098, 0),
        Info(1098, "10.1.3.249", ""),
        "hostsweep_devices{state=\"present\"} 1",
        "hostsweep_devices{state=\"away\"} 1002",
        "hostsweep_devices{state=\"missing\"} 1",
        "hostsweep_sweep_duration_seconds 60.007",
        "hostsweep_last_sweep_timestamp_seconds 1800000000",
        "hostsweep_events_total{kind=\"new\"} 3",
        "hostsweep_events_total{kind=\"gone\"} 0",
        "hostsweep_events_total{kind=\"missing\"} 1",
        "hostsweep_sink_queued_events{sink=\"webhook\"} 2",
        "hostsweep_sink_dropped_events_total{sink=\"webhook\"} 5",
        "hostsweep_sink_dropped_events_total{sink=\"mqtt\"} 0",
        "hostsweep_link_conflicts{kind=\"address\"} 2",
        "hostsweep_link_conflicts{kind=\"shared-mac\"} 1"},
       1002},
  };
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

TEST(MetricsText, ShowsTheReport) {
  for (const auto& [what, report, expected, devices] : Cases()) {
    const auto lines = Lines(MetricsText(report));
    for (const auto& line : expected) {
      EXPECT_NE(std::ranges::find(lines, line), lines.end()) << what << ": " << line;
    }
    for (const char* family : {"hostsweep_device_up{", "hostsweep_device_info{"}) {
      EXPECT_EQ(std::ranges::count_if(
                    lines, [family](const std::string& line) { return line.starts_with(family); }),
                devices)
          << what << ": " << family;
    }
    // Away for more than a day, or the least recent past the most kept.
    for (const auto& line : {Up(4, 0), Up(1099, 0)}) {
      EXPECT_EQ(std::ranges::find(lines, line), lines.end()) << what << ": " << line;
    }
  }
}

// Prometheus's own checker reads every case's text as a scrape would.
TEST(MetricsText, PromtoolAccepts) {
  if (!std::filesystem::exists("/usr/bin/promtool")) {
    GTEST_SKIP() << "promtool is not installed (Debian package prometheus)";
  }
  const testing::TemporaryFolder folder;
  const auto path = folder / "metrics.prom";
  for (const auto& metrics : Cases()) {
    std::ofstream(path) << MetricsText(metrics.report);
    const auto command = "/usr/bin/promtool check metrics < " + path.string() + " >&2";
    EXPECT_EQ(std::system(command.c_str()), 0) << metrics.what;
  }
}

TEST(MetricsListen, ParsesAddresses) {
  const std::tuple<const char*, const char*, int> kCases[] = {
      {"9100", "127.0.0.1", 9100},
      {"0.0.0.0:80", "0.0.0.0", 80},
      {"[::1]:9100", "::1", 9100},
      {"[::]:65535", "::", 65535},
      {"0", "", 0},
      {"65536", "", 0},
      {"::1:9100", "", 0},
      {"[::1]9100", "", 0},
      {":9100", "", 0},
      {"10.0.0.1:", "", 0},
  };
  for (const auto& [text, host, port] : kCases) {
    if (port == 0) {
      EXPECT_THROW(ParseListenAddress(text), UsageError) << text;
    } else {
      const auto address = ParseListenAddress(text);
      EXPECT_EQ(address.host, host) << text;
      EXPECT_EQ(address.port, port) << text;
    }
  }
}

TEST(MetricsListen, AnswersOnlyGetMetrics) {
  const std::pair<const char*, const char*> kCases[] = {
      {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n",
       "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"},
      {"GET /metrics?x=1 HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK\r\n"},
      {"GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found\r\n"},
      {"GET /metricsx HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found\r\n"},
      {"POST /metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET\r\n"},
      {"GET /metrics\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"GET /metrics HTTP/1.1", "HTTP/1.1 400 Bad Request\r\n"},
      {"", "HTTP/1.1 400 Bad Request\r\n"},
  };
  for (const auto& [request, status] : kCases) {
    const auto response = MetricsResponse(request, "page\n");
    EXPECT_TRUE(response.starts_with(status)) << request << " -> " << response;
    EXPECT_NE(response.find("Connection: close\r\n"), std::string::npos) << request;
    const bool served = std::string_view(status).starts_with("HTTP/1.1 200");
    EXPECT_EQ(response.ends_with("\r\n\r\npage\n"), served) << request;
  }
}

}  // namespace
}  // namespace hostsweep::controller
