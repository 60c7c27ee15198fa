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
constexpr const char* kHostileAlias = "<b id=injected>bold</b><img src=x onerror=alert(1)>";
// The lab's hosts of 10.213.0.10-15, each alive or heard over ARP.
const std::set<std::string> kLabHosts{"10.213.0.10", "10.213.0.11", "10.213.0.12",
                                      "10.213.0.13", "10.213.0.14", "10.213.0.15"};

ProcessResult Fetch(const std::string& port, const std::string& path) {
  return RunProcess({"/usr/bin/curl", "-sS", "--max-time", "3", "http://127.0.0.1:" + port + path});
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

  if (!Missing({{"/usr/bin/chromium", "chromium"}})) {
    for (const int width : {390, 1280}) {
      const auto dom =
          BrowserDomAt(std::string("http://127.0.0.1:") + kWatchPort + "/?live=0", width, 5000);
      for (const std::string& address : kLabHosts) {
        EXPECT_THAT(dom.standardOutput, HasSubstr(">" + address + "</td>")) << width;
      }
      EXPECT_THAT(dom.standardOutput, HasSubstr("6 devices: 6 present, 0 away, 5 unknown"));
      EXPECT_THAT(dom.standardOutput, HasSubstr("&lt;b id=injected&gt;bold&lt;/b&gt;"));
      EXPECT_THAT(dom.standardOutput, Not(HasSubstr("id=\"injected\"")));
      EXPECT_THAT(dom.standardOutput, Not(HasSubstr("<img")));
    }
  }
  kill(alone.pid(), SIGINT);
  EXPECT_EQ(alone.Finish().exitStatus, 0);
  kill(watching.pid(), SIGINT);
  watching.Finish();
}

}  // namespace
}  // namespace hostsweep::testing
