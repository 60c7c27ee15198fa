// --ipv6 in the IPv6 lab: each dual-stack row carries exactly its device's
// IPv6 addresses, the IPv6-only device has a row of its own with its MAC and
// maker, and the host with IPv6 disabled has none; in JSON and in the XML.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"

namespace hostsweep::testing {
namespace {

using ::testing::HasSubstr;

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
  const auto xml = std::filesystem::temp_directory_path() / "hostsweep-ipv6.xml";
  const auto run =
      RunController({"--ipv6", "--alive", "--json", "--xml", xml.string(), "10.214.0.0/24"});
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

}  // namespace
}  // namespace hostsweep::testing
