// The name queries against a scripted network on a fake clock: which names
// each kind of host ends with, how often it is asked, that the socket bound
// holds, and that no exchange outlives its 750 ms.
#include "controller/names/name_queries.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <ostream>

#include "tests/case_name.h"
#include "tests/controller/asking/fake_datagram_network.h"
#include "tests/controller/names/fake_resolver.h"

namespace hostsweep::controller {
namespace {

using std::chrono::milliseconds;

struct HostCase {
  std::string what;
  Responder netbios;  // none: silent
  Responder mdns;
  std::string mdnsName;
  std::string netbiosName;
  std::string workgroup;
  std::size_t netbiosSends;
  std::size_t mdnsSends;
};

std::vector<HostCase> Hosts() {
  return {
      {"NetBIOS only, mDNS port closed",
       Always([](const Bytes& r) { return NetbiosAnswer(r, "PC1", "LAB"); }), kRefused, "", "PC1",
       "LAB", 1, 1},
      {"mDNS only, NetBIOS silent", nullptr,
       Always([](const Bytes& r) { return MdnsAnswer(r, "phone.local"); }), "phone.local", "", "",
       3, 1},
      {"both", Always([](const Bytes& r) { return NetbiosAnswer(r, "NAS", "HOME"); }),
       Always([](const Bytes& r) { return MdnsAnswer(r, "nas.local"); }), "nas.local", "NAS",
       "HOME", 1, 1},
      {"neither", nullptr, nullptr, "", "", "", 3, 3},
      {"floods of wrong IDs before the answer",
       [](const Bytes& r, int) {
         std::vector<std::optional<Bytes>> flood;
         for (int i = 1; i <= 100; ++i) {
           flood.emplace_back(NetbiosAnswer(r, "EVIL", "EVIL", i));
         }
         flood.emplace_back(NetbiosAnswer(r, "GOOD", "WG"));
         return flood;
       },
       [](const Bytes& r, int) {
         std::vector<std::optional<Bytes>> flood;
         for (int i = 1; i <= 100; ++i) {
           flood.emplace_back(MdnsAnswer(r, "evil.local", i));
         }
         flood.emplace_back(Bytes(3, 0xFF));
         flood.emplace_back(MdnsAnswer(r, "good.local"));
         return flood;
       },
       "good.local", "GOOD", "WG", 1, 1},
      {"answers for another question or ID only",
       Always([](const Bytes& r) { return NetbiosAnswer(r, "EVIL", "EVIL", 1); }),
       Always(
           [](const Bytes& r) { return MdnsAnswer(r, "evil.local", 0, "1.0.0.10.in-addr.arpa"); }),
       "", "", "", 3, 3},
      {"answers to the last try only",
       [](const Bytes& r, int try_) {
         return try_ < 3 ? std::vector<std::optional<Bytes>>{}
                         : std::vector<std::optional<Bytes>>{NetbiosAnswer(r, "LATE", "")};
       },
       [](const Bytes& r, int try_) {
         return try_ < 3 ? std::vector<std::optional<Bytes>>{}
                         : std::vector<std::optional<Bytes>>{MdnsAnswer(r, "late.local")};
       },
       "late.local", "LATE", "", 3, 3},
  };
}

TEST(NameQueries, EachHostGetsItsOwnAnswersWithinTheBoundsWhateverTheOthersSend) {
  FakeNetwork network;
  const auto hosts = Hosts();
  constexpr std::size_t kMostSockets = 3;
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    const auto address = static_cast<Address>(0x0A000010 + i);
    if (hosts[i].netbios) {
      network.responders[{address, kNetbiosPort}] = hosts[i].netbios;
    }
    if (hosts[i].mdns) {
      network.responders[{address, kMdnsPort}] = hosts[i].mdns;
    }
  }
  EventLoop loop(std::make_unique<FakeNetwork::Waits>(network));
  NameQueries queries(loop, network, kMostSockets);
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    queries.Ask(100 + i, static_cast<Address>(0x0A000010 + i));
  }
  std::map<std::size_t, ExtraNames> done;
  for (int turn = 0; turn < 1000 && queries.Busy(); ++turn) {
    loop.RunOnce(milliseconds{100});
    queries.Take([&](std::size_t position, const ExtraNames& names) {
      EXPECT_TRUE(done.emplace(position, names).second) << "done twice: " << position;
    });
  }
  ASSERT_FALSE(queries.Busy());
  ASSERT_EQ(done.size(), hosts.size());
  EXPECT_LE(network.mostOpen, kMostSockets);
  EXPECT_EQ(network.open, 0U);
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    const auto& host = hosts[i];
    EXPECT_EQ(done[100 + i].mdns, host.mdnsName) << host.what;
    EXPECT_EQ(done[100 + i].netbios, host.netbiosName) << host.what;
    EXPECT_EQ(done[100 + i].workgroup, host.workgroup) << host.what;
    for (const auto& log : network.logs) {
      if (log.address != static_cast<Address>(0x0A000010 + i)) {
        continue;
      }
      const bool netbios = log.port == kNetbiosPort;
      EXPECT_EQ(log.sends.size(), netbios ? host.netbiosSends : host.mdnsSends) << host.what;
      for (std::size_t try_ = 0; try_ < log.sends.size(); ++try_) {
        EXPECT_EQ(log.sends[try_], kNameTryPatience * static_cast<int>(try_)) << host.what;
      }
      ASSERT_TRUE(log.closed.has_value());
      EXPECT_LE(*log.closed, kNameTryPatience * kNameTries) << host.what;
    }
  }
  EXPECT_EQ(network.logs.size(), 2 * hosts.size());
}

// Reading costs time (each datagram 1 ms here): a turn reads for a bounded
// time whatever the hosts send, and the hosts left unread come first in the
// next turn, so every flooding host is still heard.
TEST(NameQueries, EachTurnReadsForABoundedTimeAndEveryFloodedHostIsStillHeard) {
  constexpr int kHosts = 4;
  constexpr int kFlood = 60;
  FakeNetwork network;
  network.costOfReading = milliseconds{1};
  const auto flood = [](const Bytes& request, int) {
    std::vector<std::optional<Bytes>> datagrams(kFlood, MdnsAnswer(request, "evil.local", 1));
    datagrams.emplace_back(MdnsAnswer(request, "good.local"));
    return datagrams;
  };
  EventLoop loop(std::make_unique<FakeNetwork::Waits>(network));
  NameQueries queries(loop, network, std::size_t{2} * kHosts);
  for (int i = 0; i < kHosts; ++i) {
    network.responders[{0x0A000010 + i, kMdnsPort}] = flood;
    network.responders[{0x0A000010 + i, kNetbiosPort}] = kRefused;
    queries.Ask(i, 0x0A000010 + i);
  }
  std::map<std::size_t, ExtraNames> done;
  milliseconds longestTurn{0};
  for (int turn = 0; turn < 1000 && queries.Busy(); ++turn) {
    const auto before = network.now;
    loop.RunOnce(milliseconds{0});
    queries.Take(
        [&](std::size_t position, const ExtraNames& names) { done.emplace(position, names); });
    longestTurn =
        std::max(longestTurn, std::chrono::duration_cast<milliseconds>(network.now - before));
  }
  EXPECT_LE(longestTurn, kReadingPerTurn + network.costOfReading);
  ASSERT_EQ(done.size(), std::size_t{kHosts});
  for (const auto& [position, names] : done) {
    EXPECT_EQ(names.mdns, "good.local") << position;
  }
}

struct NamingCase {
  const char* what;
  const char* report;  // the worker's, for the address at position 0
  std::string dnsName;
  bool extraNames;
  int lookups;
  std::size_t questions;  // sockets opened
  std::string name;
};

void PrintTo(const NamingCase& c, std::ostream* os) { *os << c.what; }

class Naming : public ::testing::TestWithParam<NamingCase> {};

// A silent host is named by reverse DNS as a live one is, before any question.
TEST_P(Naming, SilentHostsAskReverseDnsFirst) {
  const auto& param = GetParam();
  constexpr Address kHost = 0x0A00000FU;
  ResultBook book({kHost});
  ASSERT_EQ(book.FileProbeReport(param.report), Filing::kFiled);
  book.FileLink(0,
                {.mac = MacAddress{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x0F}, .heardDuringSweep = true});
  FakeResolver resolver(param.dnsName);
  FakeNetwork network;
  EventLoop loop(std::make_unique<FakeNetwork::Waits>(network));
  NameQueries queries(loop, network, 4);
  NameStage stage(resolver, param.extraNames ? &queries : nullptr);
  stage.Enrich(book, {0});
  while (stage.Busy()) {
    loop.RunOnce(milliseconds{10});
    stage.Poll(book, milliseconds{0});
  }
  EXPECT_TRUE(book.Ready(0)) << param.what;
  EXPECT_EQ(resolver.asked, param.lookups) << param.what;
  EXPECT_EQ(network.logs.size(), param.questions) << param.what;
  EXPECT_EQ(ViewOf(book.Results()[0], {}).name, param.name) << param.what;
}

INSTANTIATE_TEST_SUITE_P(
    Stage, Naming,
    ::testing::Values(NamingCase{"silent, named by DNS", "h0,Dead", "mute.lab", true, 1, 0,
                                 "mute.lab"},
                      NamingCase{"silent, named by DNS, no extra names", "h0,Dead", "mute.lab",
                                 false, 1, 0, "mute.lab"},
                      NamingCase{"silent, unknown to DNS", "h0,Dead", "", true, 1, 2, ""},
                      NamingCase{"live, unnamed by its worker", "h0,1,64,,", "", true, 0, 2, ""}),
    testing::kNumberedName);

}  // namespace
}  // namespace hostsweep::controller
