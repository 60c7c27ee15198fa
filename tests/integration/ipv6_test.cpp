// --ipv6 in the IPv6 lab: each dual-stack row carries exactly its device's
// IPv6 addresses, the IPv6-only device has a row of its own with its MAC and
// maker, and the host with IPv6 disabled has none; in JSON and in the XML.
// Compared with itself (--compare, --watch), the lab has not changed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"
#include "tests/temporary_folder.h"

namespace hostsweep::testing {
namespace {

using ::testing::HasSubstr;

constexpr const char* kTargets = "10.214.0.0/24";
constexpr milliseconds kPatience{60000};

// A lab host as the lab wrote it: "IPv4-or-- MAC IPv6...", link-local last.
struct LabHost {
  std::string ipv4;
  std::string mac;
  std::set<std::string> ipv6;  // as the scanner names them: link-local with %br0
};

std::string LabState(const std::string& file) {
  const char* state = std::getenv("HOSTSWEEP_LAB_STATE");
  return std::string(state == nullptr ? "" : state) + "/" + file;
}

std::vector<LabHost> LabHosts() {
  std::vector<LabHost> hosts;
  std::ifstream lines(LabState("ipv6"));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    LabHost host;
    fields >> host.ipv4 >> host.mac;
    for (std::string address; fields >> address;) {
      host.ipv6.insert(address.starts_with("fe80:") ? address + "%br0" : address);
    }
    hosts.push_back(host);
  }
  return hosts;
}

std::set<std::string> Addresses(const nlohmann::json& list) { return {list.begin(), list.end()}; }

TEST(Ipv6Lab, EachDeviceRowCarriesExactlyItsIpv6Addresses) {
  const auto hosts = LabHosts();
  if (hosts.empty()) {
    GTEST_SKIP() << "not in the IPv6 lab (lab.sh exec6)";
  }
  std::string maker;
  std::getline(std::ifstream(LabState("maker")), maker);
  const TemporaryFolder folder;
  const auto xml = folder / "sweep.xml";
  const auto run = RunController({"--ipv6", "--alive", "--json", "--xml", xml.string(), kTargets});
  ASSERT_EQ(run.exitStatus, 0) << run.standardError;
  std::map<std::string, nlohmann::json> rows;
  std::istringstream lines(run.standardOutput);
  for (std::string line; std::getline(lines, line);) {
    const auto row = nlohmann::json::parse(line);
    rows[row.at("address")] = row;
  }
  std::stringstream document;
  document << std::ifstream(xml).rdbuf();
  for (const auto& host : hosts) {
    SCOPED_TRACE(host.mac);
    const bool ipv6Only = host.ipv4 == "--";
    // Its own row's address is its global one, the only one without a zone.
    const auto row = rows.find(
        ipv6Only ? *std::find_if(host.ipv6.begin(), host.ipv6.end(),
                                 [](const auto& a) { return a.find('%') == std::string::npos; })
                 : host.ipv4);
    ASSERT_NE(row, rows.end());
    EXPECT_EQ(row->second.at("state"), "alive");
    EXPECT_EQ(row->second.at("mac"), host.mac);
    EXPECT_EQ(Addresses(row->second.at("ipv6")), host.ipv6);
    if (ipv6Only) {
      EXPECT_EQ(row->second.at("vendor"), maker);
      EXPECT_EQ(row->second.at("evidence"), "IPv6 echo reply");
    }
    for (const auto& address : host.ipv6) {
      EXPECT_THAT(document.str(),
                  HasSubstr("<address addr=\"" + address + "\" addrtype=\"ipv6\"/>"));
    }
  }
  // Nothing but the lab's hosts answered: the scanner's own row and theirs.
  EXPECT_EQ(rows.size(), hosts.size() + 1);
}

// The IPv6-only device's row as the sweep and the watch write its address.
std::string Ipv6OnlyAddress() {
  for (const auto& host : LabHosts()) {
    for (const auto& address : host.ipv6) {
      if (host.ipv4 == "--" && address.find('%') == std::string::npos) {
        return "\"" + address + "\"";
      }
    }
  }
  return {};
}

TEST(Ipv6Lab, ComparedWithItselfNothingChanged) {
  const std::string ipv6Only = Ipv6OnlyAddress();
  if (ipv6Only.empty()) {
    GTEST_SKIP() << "not in the IPv6 lab (lab.sh exec6)";
  }
  const TemporaryFolder folder;
  const auto xml = folder / "earlier.xml";
  const auto json = folder / "earlier.json";
  const auto first =
      RunController({"--ipv6", "--alive", "--json", "--xml", xml.string(), kTargets});
  ASSERT_EQ(first.exitStatus, 0) << first.standardError;
  ASSERT_THAT(first.standardOutput, HasSubstr(ipv6Only));
  std::ofstream(json) << first.standardOutput;
  for (const auto& earlier : {json, xml}) {
    const auto again = RunController(
        {"--ipv6", "--alive", "--json", "--changes-only", "--compare", earlier.string(), kTargets});
    EXPECT_EQ(again.exitStatus, 0) << earlier << ": " << again.standardError;
    EXPECT_EQ(again.standardOutput, "") << earlier;
  }

  // A watch tells the device's arrival under its address, and nothing once
  // a second sweep has seen it again (its record's last sight moved on).
  const auto state = folder / "state.db";
  ChildProcess watching(
      ControllerCommand({"--watch", "1s", "--ipv6", "--json", "--announce-existing", "--state",
                         state.string(), kTargets}));
  ASSERT_TRUE(watching.AwaitOutput("\"new\",\"address\":" + ipv6Only, kPatience));
  // What the database knows, read beside the watch.
  const auto seenAgain = [&state, &ipv6Only] {
    const auto history = RunController({"--state", state.string(), "--history", "--json"});
    std::istringstream lines(history.standardOutput);
    for (std::string line; std::getline(lines, line);) {
      const auto device = nlohmann::json::parse(line, nullptr, false);
      if (device.is_object() && "\"" + device.value("address", "") + "\"" == ipv6Only) {
        return device.at("last_seen") != device.at("first_seen");
      }
    }
    return false;
  };
  const auto giveUp = std::chrono::steady_clock::now() + kPatience;
  while (!seenAgain() && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(milliseconds(300));
  }
  kill(watching.pid(), SIGINT);
  const auto watched = watching.Finish();
  EXPECT_TRUE(seenAgain()) << watched.standardError;
  EXPECT_EQ(watched.standardOutput.find(ipv6Only), watched.standardOutput.rfind(ipv6Only))
      << watched.standardOutput;
  EXPECT_THAT(watched.standardOutput, ::testing::Not(HasSubstr("\"gone\"")));
}

}  // namespace
}  // namespace hostsweep::testing
