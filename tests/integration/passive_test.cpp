// A watch that hears the link between its sweeps, in the lab: a host that
// joins with a real udhcpc, leased its address by a real dnsmasq, is told at
// once rather than at the next sweep ten minutes on, named by its DHCP
// message; a forged gratuitous ARP for a present host's address is a
// conflict, said once, and no device. A host that stops answering echo
// requests is asked directly before it is told gone. A dozing phone that
// stops answering after the first sweep, but goes on sending DHCP messages,
// stays present to a watch that hears them, recording (--state) or not,
// while a deaf one (lab.sh deafexec) calls it gone.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"
#include "tests/temporary_folder.h"

namespace hostsweep::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr milliseconds kPatience{60000};
constexpr const char* kForger = "02:00:5e:66:66:66";

// A gratuitous ARP claiming argv[2] from the MAC argv[1], sent on eth0 of
// the namespace it runs in.
constexpr const char* kForge = R"(
import socket, sys
mac = bytes.fromhex(sys.argv[1].replace(':', ''))
ip = socket.inet_aton(sys.argv[2])
frame = b'\xff' * 6 + mac + b'\x08\x06' + bytes.fromhex('0001080006040001') + mac + ip + bytes(6) + ip
s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW)
s.bind(('eth0', 0))
s.send(frame + bytes(60 - len(frame)))
)";

// The lab namespace of `host`.
std::string LabNamespace(const std::string& host) {
  const char* prefix = std::getenv("HOSTSWEEP_LAB_PREFIX");
  return std::string(prefix != nullptr ? prefix : "hs") + "-" + host;
}

// The joining host's namespace, its link on the bridge, gone with the test
// whatever ends it.
struct Visitor {
  std::string name;
  explicit Visitor(std::string ns) : name(std::move(ns)) {
    ok = RunProcess(
             {"/bin/sh", "-ec",
              "ip netns add " + name + "; ip link add v-visit type veth peer name eth0 netns " +
                  name + "; ip link set v-visit master br0 up; ip -n " + name +
                  " link set eth0 address 00:1a:2b:0d:0c:01; ip -n " + name + " link set eth0 up"})
             .exitStatus == 0;
  }
  ~Visitor() { RunProcess({"/bin/ip", "netns", "del", name}); }
  Visitor(const Visitor&) = delete;
  Visitor& operator=(const Visitor&) = delete;
  bool ok = false;
};

TEST(PassiveInLab, AHostThatJoinsIsToldAtOnceAndAForgedClaimInventsNone) {
  if (!InLab()) {
    GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
  }
  const Visitor visitor(LabNamespace("visit"));
  ASSERT_TRUE(visitor.ok);
  const TemporaryFolder folder;
  const auto bound = folder / "bound";
  std::ofstream(bound) << "#!/bin/sh\n[ \"$1\" = bound ] && ip addr add \"$ip/$mask\" dev "
                          "\"$interface\"\nexit 0\n";
  std::filesystem::permissions(bound, std::filesystem::perms::owner_all);
  const auto forge = folder / "forge.py";
  std::ofstream(forge) << kForge;

  // The forged claim rewrites the scanner's own entry for charlie, which no
  // later traffic corrects before the tests after this one sweep him.
  const std::shared_ptr<void> unforged(nullptr, [](void*) {
    RunProcess({"/bin/ip", "neigh", "flush", "to", "10.213.0.12"});
  });
  // Charlie answers the first sweep; the next is ten minutes away.
  ChildProcess watching(ControllerCommand(
      {"--watch", "10m", "--json", "--no-extra-names", "10.213.0.12", "10.213.12.200-209"}));
  ASSERT_TRUE(watching.AwaitOutput("\"10.213.0.12\"", kPatience));
  const auto forged = RunProcess({"/bin/ip", "netns", "exec", visitor.name, "/usr/bin/python3",
                                  forge.string(), kForger, "10.213.0.12"});
  ChildProcess server({"/usr/sbin/dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null",
                       "--no-resolv", "--no-hosts", "--port=0", "--user=root", "--pid-file",
                       "--interface=br0", "--bind-interfaces", "--no-ping",
                       "--dhcp-range=10.213.12.200,10.213.12.209,1h",
                       "--dhcp-leasefile=" + (folder / "leases").string(),
                       "--log-facility=" + (folder / "log").string()});
  const auto lease = RunProcess({"/bin/ip", "netns", "exec", visitor.name, "/usr/sbin/udhcpc", "-f",
                                 "-q", "-n", "-t", "5", "-T", "1", "-i", "eth0", "-x",
                                 "hostname:visitor", "-s", bound.string()});
  const bool told = watching.AwaitOutput(R"("name":"visitor")", kPatience);
  kill(watching.pid(), SIGINT);
  const auto watched = watching.Finish();
  ASSERT_EQ(forged.exitStatus, 0) << forged.standardError;
  ASSERT_EQ(lease.exitStatus, 0) << lease.standardError;
  EXPECT_TRUE(told) << watched.standardOutput << watched.standardError;
  EXPECT_THAT(watched.standardOutput, HasSubstr("\"change\":\"new\",\"address\":\"10.213.12.20"));
  EXPECT_THAT(watched.standardOutput, HasSubstr("\"mac\":\"00:1a:2b:0d:0c:01\""));
  EXPECT_THAT(watched.standardOutput, Not(HasSubstr(kForger)));
  EXPECT_THAT(watched.standardError, HasSubstr("10.213.0.12 answered ARP from two MAC addresses"));
  EXPECT_THAT(watched.standardError, HasSubstr(std::string(" and ") + kForger));
}

// A lab host that ignores echo requests while held, as a dozing phone does.
class EchoIgnored {
 public:
  explicit EchoIgnored(std::string ns) : ns_(std::move(ns)) {}
  ~EchoIgnored() { Set(false); }
  EchoIgnored(const EchoIgnored&) = delete;
  EchoIgnored& operator=(const EchoIgnored&) = delete;
  bool Set(bool ignored) {
    return RunProcess({"/bin/ip", "netns", "exec", ns_, "/sbin/sysctl", "-qw",
                       std::string("net.ipv4.icmp_echo_ignore_all=") + (ignored ? "1" : "0")})
               .exitStatus == 0;
  }

 private:
  std::string ns_;
};

// The host behind the router stops answering echo requests: while its mDNS
// responder answers the question put to it, each sweep that misses it asks
// and it stays present; once that is silent too, it is gone, once.
TEST(PassiveInLab, AHostThatStopsAnsweringEchoIsAskedBeforeItIsGone) {
  if (!InLab()) {
    GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
  }
  const std::string behind = LabNamespace("behind");
  ChildProcess responder({"/bin/ip", "netns", "exec", behind, HOSTSWEEP_MDNS_RESPONDER, "--address",
                          "10.213.16.10", "--name", "behind.local"});
  ASSERT_TRUE(responder.AwaitOutput("ready", kPatience));
  EchoIgnored dozing(behind);
  ChildProcess watching(ControllerCommand(
      {"--watch", "1s", "--json", "--no-extra-names", "--gone-after", "1", "10.213.16.10"}));
  ASSERT_TRUE(watching.AwaitOutput(R"("change":"new")", kPatience));
  ASSERT_TRUE(dozing.Set(true));
  // Asked again after an answer: the first answer kept it present.
  const bool answered = responder.AwaitOutput("asked\nasked", kPatience);
  kill(responder.pid(), SIGTERM);
  responder.Finish();
  const bool gone = watching.AwaitOutput(R"("change":"gone")", kPatience);
  kill(watching.pid(), SIGINT);
  const auto watched = watching.Finish();
  EXPECT_TRUE(answered) << watched.standardError;
  EXPECT_TRUE(gone) << watched.standardOutput << watched.standardError;
  EXPECT_THAT(watched.standardOutput, Not(HasSubstr(R"("back")")));
}

TEST(PassiveInLab, ADozingPhoneHeardBetweenSweepsStaysPresentWhereADeafWatchLosesIt) {
  if (!InLab()) {
    GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
  }
  // phone1 (10.213.1.10) answers the first sweeps only, then just sends DHCP.
  const auto phone = RunProcess({HOSTSWEEP_LAB_SCRIPT, "phones", "1", "--odds", "0",
                                 "--awake-first", "8", "--dhcp-every", "4", "--mdns-every", "0"});
  const std::shared_ptr<void> removed(nullptr, [](void*) {
    RunProcess({HOSTSWEEP_LAB_SCRIPT, "unphones"});
  });
  ASSERT_EQ(phone.exitStatus, 0) << phone.standardError;
  const auto watch = ControllerCommand(
      {"--watch", "5s", "--away-after", "45s", "--json", "--no-extra-names", "10.213.1.10"});
  ChildProcess hearing(watch);
  const TemporaryFolder folder;
  auto recordingWatch = watch;
  recordingWatch.insert(recordingWatch.end(), {"--state", (folder / "state.db").string()});
  ChildProcess recording(recordingWatch);
  auto deafWatch = watch;
  deafWatch.insert(deafWatch.begin(), {HOSTSWEEP_LAB_SCRIPT, "deafexec"});
  ChildProcess deaf(deafWatch);
  const bool lost = deaf.AwaitOutput(R"("change":"gone")", 3 * kPatience);
  for (const pid_t watching : {hearing.pid(), recording.pid(), deaf.pid()}) {
    kill(watching, SIGINT);
  }
  const auto heard = hearing.Finish();
  const auto recorded = recording.Finish();
  const auto unheard = deaf.Finish();
  ASSERT_TRUE(lost) << unheard.standardOutput << unheard.standardError;
  EXPECT_THAT(heard.standardOutput, HasSubstr(R"("change":"new","address":"10.213.1.10")"));
  EXPECT_THAT(heard.standardOutput, Not(HasSubstr(R"("change":"gone")")));
  EXPECT_THAT(recorded.standardOutput, Not(HasSubstr(R"("change":"gone")")));
}

}  // namespace
}  // namespace hostsweep::testing
