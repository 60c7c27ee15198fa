// The controller's own ARP requests in the lab: on-link addresses that answer
// get a worker and the same row as on the echo path, those that do not get
// none; a late answer is waited for, a second MAC warned about, one MAC
// answering for a whole stretch pointed out, a routed address takes the echo
// path, and the controller keeps no capability.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>

#include "tests/case_name.h"
#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"
#include "tests/temporary_folder.h"

namespace hostsweep::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr int kExitFound = 0;

// An executable shell script in a temporary folder, gone when the tests end.
std::string Script(const std::string& name, const std::string& body) {
  static const TemporaryFolder folder;
  const auto path = folder / name;
  std::ofstream(path) << "#!/bin/sh\n" << body;
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path.string();
}

// Every address a worker was started for, from the request lines it logged.
std::set<std::string> AddressesGivenToWorkers(const std::string& log) {
  std::set<std::string> addresses;
  std::ifstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string field;
    std::getline(fields, field, ',');  // the reply window
    for (int slot = 0; slot < 3 && std::getline(fields, field, ','); ++slot) {
      if (!field.empty()) {
        addresses.insert(field);
      }
      std::getline(fields, field, ',');  // its label
    }
  }
  return addresses;
}

class ArpInLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InLab()) {
      GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
    }
  }
};

// Live, silent (mute), late, twin, dead on-link, dead never asked (the /20's
// broadcast) and routed addresses: the link pass and the echo path agree on
// every row, and only answerers and routed addresses get a worker.
TEST_F(ArpInLab, SameRowsAsTheEchoPathAndNoWorkerForANonAnswerer) {
  const std::vector<std::string> targets{"10.213.0.9-16", "10.213.2.40-42", "10.213.15.255",
                                         "10.213.16.10-11"};
  const TemporaryFolder folder;
  const std::string log = folder / "requests";
  const auto logger = Script("logging-worker", R"(printf '%s\n' "$1" >>)" + log + "\nexec " +
                                                   WorkerPath() + R"( "$1")" + "\n");
  std::vector<std::string> arpArguments{"--json", "-v", "--worker", logger};
  std::vector<std::string> echoArguments{"--json", "--no-arp"};
  arpArguments.insert(arpArguments.end(), targets.begin(), targets.end());
  echoArguments.insert(echoArguments.end(), targets.begin(), targets.end());

  // Both paths start from the same cold neighbour table, as a first sweep does.
  const auto coldRun = [](const std::vector<std::string>& arguments) {
    RunProcess({"/bin/ip", "-4", "neigh", "flush", "all"});
    return RunController(arguments);
  };
  const auto arp = coldRun(arpArguments);
  const auto echo = coldRun(echoArguments);
  ASSERT_EQ(arp.exitStatus, kExitFound) << arp.standardError;
  ASSERT_EQ(echo.exitStatus, kExitFound) << echo.standardError;
  const auto arpRows = JsonByAddress(arp.standardOutput);
  const auto echoRows = JsonByAddress(echo.standardOutput);
  ASSERT_EQ(arpRows.size(), 14U);
  ASSERT_EQ(echoRows.size(), arpRows.size());

  std::set<std::string> found;
  for (const auto& [address, row] : arpRows) {
    const auto& expected = echoRows.at(address);
    for (const char* key : {"state", "echo", "ttl", "name", "mac", "vendor", "netbios_mac"}) {
      EXPECT_EQ(row.at(key), expected.at(key)) << address << " " << key;
    }
    if (row.at("state") != "dead") {
      found.insert(address);
    }
  }
  EXPECT_THAT(found, ::testing::IsSupersetOf({"10.213.0.10", "10.213.0.15", "10.213.2.40",
                                              "10.213.2.41", "10.213.16.10"}));
  EXPECT_EQ(arpRows.at("10.213.0.15").at("state"), "silent");
  EXPECT_EQ(arpRows.at("10.213.0.15").at("mac_source"), "arp");
  EXPECT_EQ(arpRows.at("10.213.0.9").at("evidence"), "no ARP reply");
  EXPECT_EQ(echoRows.at("10.213.0.9").at("evidence"), "no echo reply");
  EXPECT_EQ(arpRows.at("10.213.16.11").at("evidence"), "no echo reply");

  // Answerers and the echo path's addresses have workers; no silent on-link one.
  std::set<std::string> echoPath{"10.213.15.255", "10.213.16.10", "10.213.16.11"};
  std::set<std::string> expectedWorkers = echoPath;
  for (const auto& address : found) {
    expectedWorkers.insert(address);
  }
  EXPECT_EQ(AddressesGivenToWorkers(log), expectedWorkers);

  EXPECT_THAT(arp.standardError, HasSubstr("10.213.2.41 answered ARP from two MAC addresses, "));
  EXPECT_THAT(arp.standardError, HasSubstr(" and 02:00:5e:10:00:29"));
  EXPECT_THAT(arp.standardError,
              HasSubstr("11 addresses on br0's network 10.213.0.0/20: ARP requests first"));
  EXPECT_THAT(arp.standardError, HasSubstr("3 addresses behind a router"));
  EXPECT_THAT(echo.standardError, Not(HasSubstr("two MAC addresses")));
}

// A liar on the link, started for this test alone, answers every ARP request
// with one MAC: a dead stretch reads silent, as the wire says, but every row
// counts the addresses that MAC answered for, and one warning says what it
// may be.
TEST_F(ArpInLab, OneMacAnsweringForAStretchIsPointedOutOnEveryRow) {
  const std::string liarMac = "02:00:5e:10:00:99";
  ControllerRun run{};
  {
    ChildProcess liar({HOSTSWEEP_LAB_SCRIPT, "hostexec", "late", HOSTSWEEP_ARP_RESPONDER,
                       "--interface", "eth0", "--address", "any", "--mac", liarMac});
    ASSERT_TRUE(liar.AwaitOutput("ready", milliseconds(5000)));
    run = RunController({"--json", "--no-extra-names", "10.213.9.1-20"});
  }
  // The workers' echo requests made the system believe the liar too.
  RunProcess({"/bin/ip", "-4", "neigh", "flush", "to", "10.213.9.0/24"});
  ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
  const auto rows = JsonByAddress(run.standardOutput);
  ASSERT_EQ(rows.size(), 20U);
  for (const auto& [address, row] : rows) {
    EXPECT_EQ(row.at("state"), "silent") << address;
    EXPECT_EQ(row.at("mac"), liarMac) << address;
    EXPECT_EQ(row.value("mac_shared_by", 0), 20) << address;
  }
  EXPECT_THAT(run.standardError,
              HasSubstr("warning: " + liarMac +
                        " answered ARP for 20 addresses: proxy ARP, one host holding them all "
                        "and spoofed replies look alike\n"));
}

// At the top rate the requests to a wide network go out in bursts much longer
// than a host takes to answer: with the scanner's bridge widened to a /16,
// every host the lab lists on its /20 is still found, with its MAC, in a
// sweep of the /16's first half.
TEST_F(ArpInLab, AtTheTopRateEveryLiveHostOfAWideNetworkIsFound) {
  std::map<std::string, std::string> macs;
  const char* state = std::getenv("HOSTSWEEP_LAB_STATE");
  std::ifstream lines(std::string(state == nullptr ? "" : state) + "/link");
  for (std::string address, mac, maker; lines >> address >> mac && std::getline(lines, maker);) {
    macs[address] = mac;
  }
  if (macs.empty()) {
    GTEST_SKIP() << "the lab gave its hosts no known MACs (package ieee-data)";
  }
  const auto widen = [](const char* verb) {
    return RunProcess({"/bin/ip", "-4", "addr", verb, "10.213.0.1/16", "dev", "br0"}).exitStatus;
  };
  ASSERT_EQ(widen("add"), 0);
  RunProcess({"/bin/ip", "-4", "neigh", "flush", "all"});
  const auto run = RunController({"--json", "--rate", "100000", "10.213.0.0/17"});
  widen("del");
  ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
  const auto rows = JsonByAddress(run.standardOutput);
  for (const auto& [host, mac] : macs) {
    EXPECT_NE(rows.at(host).at("state"), "dead") << host;
    EXPECT_EQ(rows.at(host).at("mac"), mac) << host;
  }
}

// An ordinary user (whose group may ping) has no packet socket: every address
// takes the echo path, and -v says why.
TEST_F(ArpInLab, WithoutTheRightEveryAddressTakesTheEchoPath) {
  const std::string setpriv = "/usr/bin/setpriv";
  if (!std::filesystem::exists(setpriv)) {
    GTEST_SKIP() << "setpriv is not installed (package util-linux)";
  }
  const std::string groups = "/proc/sys/net/ipv4/ping_group_range";
  std::string low;
  std::string high;
  std::ifstream(groups) >> low >> high;
  std::ofstream(groups) << "0 2147483647";
  const auto run = RunProcess({setpriv, "--reuid=4242", "--regid=4242", "--clear-groups", "--",
                               ControllerPath(), "--json", "-v", "10.213.0.9", "10.213.0.10"});
  std::ofstream(groups) << low << " " << high;
  ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
  EXPECT_THAT(run.standardError, HasSubstr("no packet socket: it needs CAP_NET_RAW"));
  const auto rows = JsonByAddress(run.standardOutput);
  EXPECT_EQ(rows.at("10.213.0.10").at("mac_source"), "neighbour");
  EXPECT_EQ(rows.at("10.213.0.9").at("evidence"), "no echo reply");
}

// The package's right on the controller alone, where the user's group may not
// send echo requests (ping_group_range "1 0"): the hosts on the link are
// found by their ARP answers, silent with their MACs and names; routed
// targets alone still cannot be swept.
TEST_F(ArpInLab, WithTheLinkRightAloneTheLinkIsSweptWithoutEchoRequests) {
  for (const char* program : {"/usr/bin/setpriv", "/usr/sbin/setcap"}) {
    if (!std::filesystem::exists(program)) {
      GTEST_SKIP() << program << " is not installed (packages util-linux, libcap2-bin)";
    }
  }
  const TemporaryFolder folder;
  std::filesystem::permissions(folder.Path(), std::filesystem::perms::all);
  const auto controller = folder / "hostsweep";
  const auto copy = std::filesystem::copy_options::overwrite_existing;
  std::filesystem::copy_file(ControllerPath(), controller, copy);
  std::filesystem::copy_file(WorkerPath(), folder / "hostsweep-worker", copy);
  ASSERT_EQ(RunProcess({"/usr/sbin/setcap", "cap_net_raw+ep", controller.string()}).exitStatus, 0);
  const std::string groups = "/proc/sys/net/ipv4/ping_group_range";
  std::string low;
  std::string high;
  std::ifstream(groups) >> low >> high;
  std::ofstream(groups) << "1 0";
  const auto asUser = [&](const std::vector<std::string>& arguments) {
    std::vector<std::string> command{"/usr/bin/setpriv", "--reuid=4242", "--regid=4242",
                                     "--clear-groups",   "--",           controller.string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunProcess(command);
  };
  const auto lan = asUser({"--json", "10.213.0.0/24"});
  const auto routed = asUser({"--json", "10.213.16.10"});
  std::ofstream(groups) << low << " " << high;

  ASSERT_EQ(lan.exitStatus, kExitFound) << lan.standardError;
  EXPECT_THAT(lan.standardError, HasSubstr("warning: echo requests are not allowed here"));
  const auto rows = JsonByAddress(lan.standardOutput);
  for (const char* address : {"10.213.0.10", "10.213.0.12", "10.213.0.15", "10.213.0.100"}) {
    const auto& row = rows.at(address);
    EXPECT_EQ(row.at("state"), "silent") << address;
    EXPECT_EQ(row.at("mac_source"), "arp") << address;
    EXPECT_TRUE(row.at("rtt_ms").is_null()) << address;
    EXPECT_TRUE(row.at("echo").is_null()) << address;
  }
  EXPECT_EQ(rows.at("10.213.0.10").at("name"), "alpha.lab");
  EXPECT_EQ(rows.at("10.213.0.9").at("evidence"), "no ARP reply");
  EXPECT_EQ(routed.exitStatus, 4) << routed.standardError;
  EXPECT_THAT(routed.standardError, HasSubstr("ping_group_range"));
}

// The controller runs as root here, with every capability until it drops
// them: its workers read its effective set while it sweeps.
TEST_F(ArpInLab, ControllerHoldsNoCapabilityOnceItsSocketIsOpen) {
  const auto spy = Script("capability-spy",
                          "echo \"hostsweep-worker: parent CapEff $(awk '/^CapEff/ {print $2}' "
                          "/proc/$PPID/status) CapPrm $(awk '/^CapPrm/ {print $2}' "
                          "/proc/$PPID/status)\" >&2\nexit 1\n");
  const auto run = RunController({"--csv", "--worker", spy, "127.0.0.1"});
  EXPECT_THAT(run.standardError,
              HasSubstr("parent CapEff 0000000000000000 CapPrm 0000000000000000"));
}

// Two interfaces on one network: --interface says which link the link pass
// asks on. alpha is on the bridge alone, so asked on the other link it never
// answers; an interface that is not there is refused, naming those that are.
TEST_F(ArpInLab, InterfaceChoosesTheLinkAmongTwoOnOneNetwork) {
  // The pair's end with an address holds no host; gone with the test.
  struct Link {
    ~Link() { RunProcess({"/bin/ip", "link", "del", "v-if0"}); }
  } const owned;
  ASSERT_EQ(RunProcess({"/bin/sh", "-ec",
                        "ip link add v-if0 type veth peer name v-if1; ip addr add 10.213.0.2/20 "
                        "dev v-if0; ip link set v-if1 up; ip link set v-if0 up"})
                .exitStatus,
            0);
  const auto sweep = [](const std::string& interface) {
    return RunController(
        {"--json", "--no-extra-names", "--no-types", "--interface", interface, "10.213.0.10"});
  };
  const auto bridge = JsonByAddress(sweep("br0").standardOutput).at("10.213.0.10");
  EXPECT_EQ(bridge.at("mac_source"), "arp");
  const auto other = JsonByAddress(sweep("v-if0").standardOutput).at("10.213.0.10");
  EXPECT_EQ(other.at("evidence"), "no ARP reply");
  const auto unknown = sweep("v-if9");
  EXPECT_EQ(unknown.exitStatus, 3);
  EXPECT_THAT(unknown.standardError, HasSubstr("--interface v-if9: no interface of that name is "
                                               "up with an IPv4 address (there are: br0, v-if0)"));
}

// A host that took its address from a real dnsmasq, asking to be called
// leasepc, and that nothing else names: the row has the name the lease file
// dnsmasq wrote gives it. A routed host, which has no MAC on the link, has
// the one a second server's lease gives it, and keeps its DNS name. The
// client's namespace, its link on the bridge and dnsmasq (DHCP alone, on the
// bridge alone) last as long as the test.
TEST_F(ArpInLab, AHostNamedByNothingElseTakesItsNameFromItsDhcpLease) {
  const char* prefix = std::getenv("HOSTSWEEP_LAB_PREFIX");
  const std::string client = std::string(prefix != nullptr ? prefix : "hs") + "-dhcp";
  const TemporaryFolder folder;
  const std::string leases = (folder / "dnsmasq.leases").string();
  const std::string routed = (folder / "routed.leases").string();
  std::ofstream(routed) << "0 00:22:72:00:00:99 10.213.16.10 other *\n";
  // Gone with the test, whatever ends it; its link on the bridge with it.
  struct Namespace {
    std::string name;
    ~Namespace() { RunProcess({"/bin/ip", "netns", "del", name}); }
  } const owned{client};
  const auto bound = Script("udhcpc-bound",
                            "[ \"$1\" = bound ] && ip addr add \"$ip/$mask\" dev \"$interface\"\n"
                            "exit 0\n");
  ASSERT_EQ(RunProcess({"/bin/sh", "-ec",
                        "ip netns add " + client +
                            "; ip link add v-dhcp type veth peer name eth0 "
                            "netns " +
                            client + "; ip link set v-dhcp master br0 up; ip -n " + client +
                            " link set eth0 up"})
                .exitStatus,
            0);
  ChildProcess server({"/usr/sbin/dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null",
                       "--no-resolv", "--no-hosts", "--port=0", "--user=root", "--pid-file",
                       "--interface=br0", "--bind-interfaces", "--no-ping",
                       "--dhcp-range=10.213.12.200,10.213.12.209,1h", "--dhcp-leasefile=" + leases,
                       "--log-facility=" + (folder / "log").string()});
  const auto lease =
      RunProcess({"/bin/ip", "netns", "exec", client, "/usr/sbin/udhcpc", "-f", "-q", "-n", "-t",
                  "5", "-T", "1", "-i", "eth0", "-x", "hostname:leasepc", "-s", bound});
  const auto run =
      RunController({"--json", "--no-extra-names", "--no-types", "--interface", "br0", "--leases",
                     leases, "--leases", routed, "10.213.12.200-209", "10.213.16.10"});
  ASSERT_EQ(lease.exitStatus, 0) << lease.standardError;
  ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
  const auto rows = JsonByAddress(run.standardOutput);
  const auto named = std::find_if(
      rows.begin(), rows.end(), [](const auto& row) { return row.second.at("state") == "alive"; });
  ASSERT_NE(named, rows.end()) << run.standardOutput;
  EXPECT_EQ(named->second.at("name"), "leasepc");
  EXPECT_EQ(named->second.at("name_source"), "dhcp-lease");
  const auto& behind = rows.at("10.213.16.10");
  EXPECT_EQ(behind.at("mac"), "00:22:72:00:00:99");
  EXPECT_EQ(behind.at("mac_source"), "dhcp-lease");
  EXPECT_EQ(behind.at("name_source"), "dns");
}

}  // namespace
}  // namespace hostsweep::testing

namespace hostsweep::testing {
namespace {

// How a sweep of behind asks the router: Debian's snmpd in the router's
// namespace, answering v2c and a v3 user from the kernel's neighbour table,
// or an address where nothing answers SNMP (charlie), which costs the sweep
// a bounded wait and nothing else; or the same agent answering late, through
// a relay in the router's namespace (port 1161) that holds every datagram.
struct SnmpCase {
  std::string name;
  std::string agent;
  std::string auth;  // --snmp-auth's file's line; empty: none given
  bool answers;
  int lateMs = 0;  // the relay's delay each way; 0: no relay
};

void PrintTo(const SnmpCase& c, std::ostream* os) { *os << c.name; }

class SnmpInLab : public ArpInLab, public ::testing::WithParamInterface<SnmpCase> {};

TEST_P(SnmpInLab, ARoutedHostTakesItsMacFromTheRoutersNeighbourTable) {
  const SnmpCase& c = GetParam();
  const TemporaryFolder folder;
  std::ofstream(folder / "snmpd.conf") << "agentaddress udp:10.213.0.254:161\n"
                                          "rocommunity lab 10.213.0.1\n"
                                          "rocommunity lab 10.213.0.254\n"
                                          "createUser watcher SHA passphrase AES privacy1\n"
                                          "rouser watcher priv\n";
  // The router's own entry for behind, as traffic through it would leave.
  RunProcess({HOSTSWEEP_LAB_SCRIPT, "hostexec", "router", "ping", "-c1", "-W1", "10.213.16.10"});
  ChildProcess agent({HOSTSWEEP_LAB_SCRIPT, "hostexec", "router", "/usr/bin/env",
                      "SNMP_PERSISTENT_DIR=" + folder.Path().string(), "/usr/sbin/snmpd", "-f",
                      "-Lo", "-C", "-c", (folder / "snmpd.conf").string(), "-M", "/dev/null"});
  ASSERT_TRUE(agent.AwaitOutput("NET-SNMP version", std::chrono::seconds(10)));
  std::optional<ChildProcess> relay;
  if (c.lateMs > 0) {
    relay.emplace(std::vector<std::string>{HOSTSWEEP_LAB_SCRIPT, "hostexec", "router",
                                           HOSTSWEEP_SLOW_RELAY, "10.213.0.254:1161",
                                           "10.213.0.254:161", std::to_string(c.lateMs)});
    ASSERT_TRUE(relay->AwaitOutput("ready", std::chrono::seconds(10)));
  }
  std::vector<std::string> arguments{"--json", "--no-extra-names", "--no-types", "--snmp",
                                     c.agent,  "10.213.16.10-11"};
  if (!c.auth.empty()) {
    const auto auth = folder / "auth";
    std::ofstream(auth) << c.auth << '\n';
    std::filesystem::permissions(auth, std::filesystem::perms::owner_read);
    arguments.insert(arguments.begin(), {"--snmp-auth", "@" + auth.string()});
  }
  const auto run = RunController(arguments);
  const auto mac = RunProcess(
      {HOSTSWEEP_LAB_SCRIPT, "hostexec", "behind", "cat", "/sys/class/net/eth0/address"});
  ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
  const auto rows = JsonByAddress(run.standardOutput);
  const auto& behind = rows.at("10.213.16.10");
  EXPECT_EQ(behind.at("state"), "alive");
  EXPECT_EQ(rows.at("10.213.16.11").at("mac"), nullptr);
  if (c.answers) {
    EXPECT_EQ(behind.at("mac"), mac.standardOutput.substr(0, mac.standardOutput.find('\n')));
    EXPECT_EQ(behind.at("mac_source"), "snmp");
  } else {
    EXPECT_NE(behind.at("mac_source"), "snmp");
    EXPECT_THAT(run.standardError, HasSubstr("--snmp " + c.agent + ": no answer"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Agents, SnmpInLab,
    ::testing::Values(
        SnmpCase{"v2c with a community", "10.213.0.254", "v2c lab", true},
        SnmpCase{"a v3 user", "10.213.0.254", "v3 watcher sha passphrase aes privacy1", true},
        SnmpCase{"an agent that never answers", "10.213.0.12", "", false},
        SnmpCase{"an agent that answers 0.8 s late", "10.213.0.254:1161", "v2c lab", true, 400}),
    [](const auto& info) { return CaseName(info.param.name); });

}  // namespace
}  // namespace hostsweep::testing
