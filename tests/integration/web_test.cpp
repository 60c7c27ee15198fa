// --web in the lab: a watch serves the dashboard on the namespace's loopback;
// its API, read with curl, holds the lab's hosts, and so does a second
// process serving the same database alone. Headless chromium draws the page
// at a phone's width and a desktop's: every host a row, and a hostile alias
// shown as text, with no element of its own. What this cannot see: the page
// as a person uses it (clicks, sorting, the timeline's drawing), which needs
// a browser driven step by step, nor the live stream in the browser (the
// virtual time of --dump-dom stands still while a stream is open: the page is
// read as ?live=0, and the stream with curl).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "tests/integration/controller_run.h"
#include "tests/integration/document_tools.h"
#include "tests/integration/harness.h"
#include "tests/temporary_folder.h"

namespace hostsweep::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kWatchPort = "9801";
constexpr const char* kAlonePort = "9802";
constexpr const char* kHttpsPort = "9803";
constexpr const char* kHostileAlias = "<b id=injected>bold</b><img src=x onerror=alert(1)>";
// The lab's hosts of 10.213.0.10-15, each alive or heard over ARP.
const std::set<std::string> kLabHosts{"10.213.0.10", "10.213.0.11", "10.213.0.12",
                                      "10.213.0.13", "10.213.0.14", "10.213.0.15"};

ProcessResult Fetch(const std::string& port, const std::string& path) {
  return RunProcess({"/usr/bin/curl", "-sS", "--max-time", "3", "http://127.0.0.1:" + port + path});
}

// A change as the page posts it: from its origin, as JSON, with `token`.
// The body, then the status on a line of its own.
ProcessResult Post(const std::string& port, const std::string& body, const std::string& token) {
  const std::string origin = "http://127.0.0.1:" + port;
  return RunProcess({"/usr/bin/curl", "-sS", "--max-time", "3", "-w", "\n%{http_code}", "-H",
                     "Origin: " + origin, "-H", "Content-Type: application/json", "-H",
                     "X-Hostsweep-Token: " + token, "--data-binary", body, origin + "/api/known"});
}

std::string TokenOf(const std::string& port) {
  const auto session =
      nlohmann::json::parse(Fetch(port, "/api/session").standardOutput, nullptr, false);
  return session.is_object() ? session.value("token", "") : "";
}

std::int64_t IdOf(const std::string& devices, const std::string& address) {
  const auto list = nlohmann::json::parse(devices, nullptr, false);
  for (const auto& device : list.is_array() ? list : nlohmann::json::array()) {
    if (device.value("address", "") == address) {
      return device.value("id", std::int64_t{0});
    }
  }
  return 0;
}

std::set<std::string> AddressesOf(const std::string& devices) {
  std::set<std::string> addresses;
  const auto list = nlohmann::json::parse(devices, nullptr, false);
  for (const auto& device : list.is_array() ? list : nlohmann::json::array()) {
    addresses.insert(device.value("address", ""));
  }
  return addresses;
}

TEST(WebInLab, DashboardOfAWatchShowsTheLabsHosts) {
  if (!InLab()) {
    GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
  }
  if (const auto missing = Missing({{"/usr/bin/curl", "curl"}})) {
    GTEST_SKIP() << *missing;
  }
  const TemporaryFolder folder;
  const auto state = (folder / "state.db").string();
  const auto known = folder / "known.csv";
  std::ofstream(known) << "mac,address,alias,owner,expect,note\n,10.213.0.10," << kHostileAlias
                       << ",,,\n";
  std::ofstream(folder / "lines").close();
  ChildProcess watching(
      ControllerCommand({"-q", "--no-types", "--watch", "2s", "--state", state, "--known",
                         known.string(), "--web", kWatchPort, "10.213.0.10-15"}),
      (folder / "lines").string());
  ProcessResult devices;
  for (int tries = 0; tries < 300 && AddressesOf(devices.standardOutput) != kLabHosts; ++tries) {
    std::this_thread::sleep_for(milliseconds(100));
    devices = Fetch(kWatchPort, "/api/devices");
  }
  EXPECT_EQ(AddressesOf(devices.standardOutput), kLabHosts) << devices.standardOutput;
  EXPECT_THAT(devices.standardOutput, HasSubstr(R"("name":"alpha.lab","mac":"00:22:72:00:00:0a")"));
  const auto stream = Fetch(kWatchPort, "/api/events/stream?after=0");
  EXPECT_THAT(stream.standardOutput, HasSubstr("id: 1\ndata: {\"id\":1,"));

  // Alone, on the same database the watch writes.
  ChildProcess alone(ControllerCommand({"--state", state, "--web", kAlonePort}));
  ProcessResult served;
  for (int tries = 0; tries < 100 && served.standardOutput.empty(); ++tries) {
    std::this_thread::sleep_for(milliseconds(100));
    served = Fetch(kAlonePort, "/api/devices");
  }
  EXPECT_EQ(AddressesOf(served.standardOutput), kLabHosts) << served.standardError;
  // Gzipped for a client that takes it: the same list once curl unpacks it.
  const auto packed =
      RunProcess({"/usr/bin/curl", "-sS", "--max-time", "3", "--compressed", "-D", "-",
                  std::string("http://127.0.0.1:") + kAlonePort + "/api/devices"});
  EXPECT_THAT(packed.standardOutput, HasSubstr("Content-Encoding: gzip"));
  EXPECT_EQ(AddressesOf(packed.standardOutput.substr(packed.standardOutput.find("\r\n\r\n") + 4)),
            kLabHosts);

  if (!Missing({{"/usr/bin/chromium", "chromium"}})) {
    for (const int width : {390, 1280}) {
      const auto dom =
          BrowserDomAt(std::string("http://127.0.0.1:") + kWatchPort + "/?live=0", width, 5000);
      for (const std::string& address : kLabHosts) {
        EXPECT_THAT(dom.standardOutput, HasSubstr(">" + address + "</td>")) << width;
      }
      EXPECT_THAT(dom.standardOutput, HasSubstr("6 devices: 6 present, 0 away, 5 unknown"));
      EXPECT_THAT(dom.standardOutput, HasSubstr(R"(<p class="network">10.213.0.0/24</p>)"));
      EXPECT_THAT(dom.standardOutput, HasSubstr("&lt;b id=injected&gt;bold&lt;/b&gt;"));
      EXPECT_THAT(dom.standardOutput, Not(HasSubstr("id=\"injected\"")));
      EXPECT_THAT(dom.standardOutput, Not(HasSubstr("<img")));
    }
  }
  // An edit from the page's origin with the session's token reaches the
  // file, and the watch takes it at its next sweep (its /metrics); one
  // without the token changes nothing; alone, without --known, none is taken.
  const std::string edit =
      R"({"device":)" + std::to_string(IdOf(devices.standardOutput, "10.213.0.11")) +
      R"(,"alias":"phone","owner":"ann","expect":"","away_after":"20m","note":"mine, \"really\""})";
  EXPECT_THAT(Post(kWatchPort, edit, "forged").standardOutput, HasSubstr("\n403"));
  EXPECT_THAT(Post(kWatchPort, edit, TokenOf(kWatchPort)).standardOutput, HasSubstr("\n200"));
  EXPECT_THAT(ReadFile(known), HasSubstr("mac,address,alias,owner,expect,note,away_after\n"));
  EXPECT_THAT(ReadFile(known), HasSubstr(",10.213.0.11,phone,ann,,\"mine, \"\"really\"\"\",20m\n"));
  ProcessResult metrics;
  for (int tries = 0; tries < 100 && !Holds(metrics.standardOutput, R"(alias="phone")"); ++tries) {
    std::this_thread::sleep_for(milliseconds(100));
    metrics = Fetch(kWatchPort, "/metrics");
  }
  EXPECT_THAT(metrics.standardOutput, HasSubstr(R"(alias="phone")"));
  EXPECT_THAT(Post(kAlonePort, edit, TokenOf(kAlonePort)).standardOutput,
              HasSubstr("read-only: start hostsweep with --known FILE"));

  if (!Missing({{"/usr/bin/chromium", "chromium"}})) {
    // The list as a link filters and sorts it: the unknown devices, the
    // highest address first.
    const auto listed = BrowserDomAt(std::string("http://127.0.0.1:") + kWatchPort +
                                         "/?live=0&show=unknown&sort=-address",
                                     1280, 5000)
                            .standardOutput;
    EXPECT_THAT(listed, HasSubstr("; 4 shown"));
    EXPECT_THAT(listed, Not(HasSubstr(">10.213.0.11</td>")));
    EXPECT_LT(listed.find(">10.213.0.15</td>"), listed.find(">10.213.0.12</td>"));
    // A device the inventory does not know offers to add it; alone, the page
    // says how to edit.
    const auto unknown =
        BrowserDomAt(std::string("http://127.0.0.1:") + kWatchPort + "/?live=0#device/" +
                         std::to_string(IdOf(devices.standardOutput, "10.213.0.12")),
                     1280, 5000)
            .standardOutput;
    EXPECT_THAT(unknown, HasSubstr(">This device is mine</button>"));
    const auto readOnly =
        BrowserDomAt(std::string("http://127.0.0.1:") + kAlonePort + "/?live=0#device/1", 1280,
                     5000)
            .standardOutput;
    EXPECT_THAT(readOnly, HasSubstr(R"(<p id="read-only">Read-only)"));
    // The README's picture: HOSTSWEEP_SCREENSHOT=docs/dashboard.png keeps it.
    const char* kept = std::getenv("HOSTSWEEP_SCREENSHOT");
    const auto png = kept != nullptr ? std::filesystem::path(kept) : folder / "dashboard.png";
    BrowserScreenshot(std::string("http://127.0.0.1:") + kWatchPort + "/?live=0", png, 5000);
    EXPECT_EQ(ReadFile(png).substr(0, 4), "\x89PNG");
  }
  // Over HTTPS, with a certificate made for the test.
  if (!Missing({{"/usr/bin/openssl", "openssl"}})) {
    const auto pem = (folder / "web.pem").string();
    const auto key = (folder / "web.key").string();
    EXPECT_EQ(RunProcess({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                          "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                          "-days", "1", "-keyout", key, "-out", pem})
                  .exitStatus,
              0);
    ChildProcess secure(ControllerCommand(
        {"--state", state, "--web", kHttpsPort, "--web-cert", pem, "--web-key", key}));
    ProcessResult fetched;
    for (int tries = 0; tries < 100 && fetched.standardOutput.empty(); ++tries) {
      std::this_thread::sleep_for(milliseconds(100));
      fetched = RunProcess({"/usr/bin/curl", "-sS", "--max-time", "3", "--cacert", pem,
                            std::string("https://127.0.0.1:") + kHttpsPort + "/api/devices"});
    }
    EXPECT_EQ(AddressesOf(fetched.standardOutput), kLabHosts) << fetched.standardError;
    kill(secure.pid(), SIGINT);
    EXPECT_EQ(secure.Finish().exitStatus, 0);
  }
  kill(alone.pid(), SIGINT);
  EXPECT_EQ(alone.Finish().exitStatus, 0);
  kill(watching.pid(), SIGINT);
  watching.Finish();
}

}  // namespace
}  // namespace hostsweep::testing
