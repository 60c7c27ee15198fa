// --web in the lab: a watch serves the dashboard on the namespace's loopback;
// its API, read with curl, holds the lab's hosts, and so does a second
// process serving the same database alone. The page as a person uses it is
// driven step by step in chromium by puppeteer-core (tests/browser): the
// list, a host that leaves shown away live, an alias typed into the page's
// form, a device's timeline, hostile names as text, the widths of a phone
// and a desktop, and axe-core's reading. What is left to chromium
// --dump-dom: the list as a link (filtered and sorted), the read-only page
// and the README's picture, each read as ?live=0 (its virtual time stands
// still while a stream is open).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "tests/integration/controller_run.h"
#include "tests/integration/document_tools.h"
#include "tests/integration/harness.h"
#include "tests/integration/stand_ins.h"
#include "tests/temporary_folder.h"

namespace hostsweep::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr const char* kWatchPort = "9801";
constexpr const char* kAlonePort = "9802";
constexpr const char* kHttpsPort = "9803";
constexpr const char* kDrivenPort = "9804";
// A host that comes and goes at the test's word (stand_ins.h).
constexpr const char* kStandIn = "10.213.3.1";
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

// `path` of the server at `port` once its answer is `wanted`; the last
// answer after some 30 s.
ProcessResult FetchUntil(const std::string& port, const std::string& path,
                         const std::function<bool(const std::string&)>& wanted) {
  ProcessResult answer;
  for (int tries = 0; tries < 300 && !wanted(answer.standardOutput); ++tries) {
    std::this_thread::sleep_for(milliseconds(100));
    answer = Fetch(port, path);
  }
  return answer;
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
  const auto devices = FetchUntil(kWatchPort, "/api/devices", [](const std::string& answer) {
    return AddressesOf(answer) == kLabHosts;
  });
  EXPECT_EQ(AddressesOf(devices.standardOutput), kLabHosts) << devices.standardOutput;
  EXPECT_THAT(devices.standardOutput, HasSubstr(R"("name":"alpha.lab","mac":"00:22:72:00:00:0a")"));
  const auto stream = Fetch(kWatchPort, "/api/events/stream?after=0");
  EXPECT_THAT(stream.standardOutput, HasSubstr("id: 1\ndata: {\"id\":1,"));

  // Alone, on the same database the watch writes.
  ChildProcess alone(ControllerCommand({"--state", state, "--web", kAlonePort}));
  const auto served = FetchUntil(kAlonePort, "/api/devices",
                                 [](const std::string& answer) { return !answer.empty(); });
  EXPECT_EQ(AddressesOf(served.standardOutput), kLabHosts) << served.standardError;
  // Gzipped for a client that takes it: the same list once curl unpacks it.
  const auto packed =
      RunProcess({"/usr/bin/curl", "-sS", "--max-time", "3", "--compressed", "-D", "-",
                  std::string("http://127.0.0.1:") + kAlonePort + "/api/devices"});
  EXPECT_THAT(packed.standardOutput, HasSubstr("Content-Encoding: gzip"));
  EXPECT_EQ(AddressesOf(packed.standardOutput.substr(packed.standardOutput.find("\r\n\r\n") + 4)),
            kLabHosts);

  // A change without the session's token changes nothing; alone, without
  // --known, none is taken.
  const std::string edit = R"({"device":)" +
                           std::to_string(IdOf(devices.standardOutput, "10.213.0.11")) +
                           R"(,"alias":"phone","owner":"","expect":"","away_after":"","note":""})";
  EXPECT_THAT(Post(kWatchPort, edit, "forged").standardOutput, HasSubstr("\n403"));
  EXPECT_THAT(ReadFile(known), Not(HasSubstr("phone")));
  EXPECT_THAT(Post(kAlonePort, edit, TokenOf(kAlonePort)).standardOutput,
              HasSubstr("read-only: start hostsweep with --known FILE"));

  if (!Missing({{"/usr/bin/chromium", "chromium"}})) {
    // The list as a link filters and sorts it: the unknown devices, the
    // highest address first.
    const auto listed = BrowserDomAt(std::string("http://127.0.0.1:") + kWatchPort +
                                         "/?live=0&show=unknown&sort=-address",
                                     1280, 5000)
                            .standardOutput;
    EXPECT_THAT(listed, HasSubstr("; 5 shown"));
    EXPECT_THAT(listed, Not(HasSubstr(">10.213.0.10</td>")));
    EXPECT_LT(listed.find(">10.213.0.15</td>"), listed.find(">10.213.0.12</td>"));
    // Alone, the page says how to edit.
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

// The driver's verdict: the last line it printed.
nlohmann::json VerdictOf(const std::string& printed) {
  const auto lines = printed.substr(0, printed.find_last_not_of('\n') + 1);
  return nlohmann::json::parse(lines.substr(lines.find_last_of('\n') + 1), nullptr, false);
}

// The page as a person uses it, driven step by step in chromium
// (tests/browser/dashboard.mjs, one document from start to end): the list
// holds every host swept; the stand-in is made known through the page's
// form, which reaches the file and the watch's next sweep; it then leaves,
// and the open list shows it away from the stream, and the watch's line
// names it by its new alias.
TEST(WebInLab, DashboardDrivenInABrowser) {
  if (!InLab()) {
    GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
  }
  if (const auto missing = Missing({{"/usr/bin/curl", "curl"},
                                    {"/usr/bin/chromium", "chromium"},
                                    {"/usr/bin/node", "nodejs"}})) {
    GTEST_SKIP() << *missing;
  }
  const fs::path driver = HOSTSWEEP_BROWSER_DRIVER;
  for (const char* package : {"puppeteer-core", "axe-core"}) {
    if (!fs::exists(driver.parent_path() / "node_modules" / package)) {
      GTEST_SKIP() << "needs " << package << " of npm: npm ci in tests/browser "
                   << "(scripts/install-deps test runs it)";
    }
  }
  const TemporaryFolder folder;
  const auto known = folder / "known.csv";
  std::ofstream(known) << "mac,address,alias,owner,expect,note\n,10.213.0.10," << kHostileAlias
                       << ",,,\n";
  auto standIns = StandUp({{kStandIn, "00-1A-2B-00-00-01"}});
  ChildProcess watching(
      ControllerCommand({"--json", "--no-types", "--watch", "2s", "--gone-after", "1", "--state",
                         (folder / "state.db").string(), "--known", known.string(), "--web",
                         kDrivenPort, "10.213.0.10-15", kStandIn}));
  auto swept = kLabHosts;
  swept.insert(kStandIn);
  ASSERT_EQ(AddressesOf(
                FetchUntil(kDrivenPort, "/api/devices",
                           [&](const std::string& answer) { return AddressesOf(answer) == swept; })
                    .standardOutput),
            swept);

  ChildProcess driving({"/usr/bin/node", driver.string(),
                        std::string("http://127.0.0.1:") + kDrivenPort, kStandIn, "10.213.0.10",
                        (folder / "chromium").string()});
  if (driving.AwaitOutput(R"({"step":"saved"})", milliseconds(120000))) {
    EXPECT_THAT(ReadFile(known),
                HasSubstr("00:1a:2b:00:00:01,10.213.3.1,phone,ann,,\"mine, \"\"really\"\"\"\n"));
    const auto metrics = FetchUntil(kDrivenPort, "/metrics", [](const std::string& answer) {
      return Holds(answer, R"(alias="phone")");
    });
    EXPECT_THAT(metrics.standardOutput, HasSubstr(R"(alias="phone")"));
  }
  standIns.clear();
  const auto driven = driving.Finish();
  kill(watching.pid(), SIGINT);
  const auto watched = watching.Finish();
  const auto gone = watched.standardOutput.find(R"("change":"gone","address":"10.213.3.1")");
  ASSERT_NE(gone, std::string::npos) << watched.standardOutput << watched.standardError;
  EXPECT_THAT(watched.standardOutput.substr(gone, watched.standardOutput.find('\n', gone) - gone),
              HasSubstr(R"("alias":"phone","owner":"ann")"));

  const auto verdict = VerdictOf(driven.standardOutput);
  ASSERT_TRUE(verdict.is_object()) << driven.standardOutput << driven.standardError;
  ASSERT_FALSE(verdict.contains("error")) << verdict["error"].get<std::string>();
  EXPECT_EQ(verdict.at("listed").get<std::set<std::string>>(), swept);
  EXPECT_THAT(verdict.at("counts").get<std::string>(),
              HasSubstr("7 devices: 7 present, 0 away, 6 unknown"));
  EXPECT_THAT(verdict.at("networks").get<std::vector<std::string>>(),
              ElementsAre("10.213.0.0/24", "10.213.3.0/24"));
  // Away without a reload, under the alias typed.
  EXPECT_EQ(verdict.at("awayLabel"), "phone");
  EXPECT_EQ(verdict.at("sameDocument"), true);
  EXPECT_EQ(verdict.at("saveButton"), "This device is mine");
  EXPECT_THAT(verdict.at("saved").get<std::string>(), HasSubstr("Saved to the --known file"));
  // 10.213.0.10's present session, a bar of the 24 hours.
  EXPECT_EQ(verdict.at("timeline").at("sessions"), 1);
  EXPECT_EQ(verdict.at("timeline").at("bars"), 1);
  // The hostile alias as text in the list and as its device's title; no
  // element, dialog or script of its own, nor one the page's policy stopped.
  EXPECT_EQ(verdict.at("hostile").at("list").get<std::string>(), kHostileAlias);
  EXPECT_EQ(verdict.at("hostile").at("device").get<std::string>(), kHostileAlias);
  EXPECT_EQ(verdict.at("injected"), 0);
  EXPECT_THAT(verdict.at("dialogs"), IsEmpty());
  EXPECT_THAT(verdict.at("blocked"), IsEmpty());
  // No sideways scrolling at a phone's width nor a desktop's.
  EXPECT_EQ(verdict.at("widths").size(), 4U);
  for (const auto& [view, widths] : verdict.at("widths").items()) {
    EXPECT_LE(widths.at(0), widths.at(1)) << view;
  }
  // The list and a device page, each in light and dark colours.
  EXPECT_EQ(verdict.at("axe").size(), 4U);
  for (const auto& [view, found] : verdict.at("axe").items()) {
    EXPECT_GT(found.at("passed"), 0) << view;
    EXPECT_THAT(found.at("faults"), IsEmpty()) << view;
  }
}

}  // namespace
}  // namespace hostsweep::testing
