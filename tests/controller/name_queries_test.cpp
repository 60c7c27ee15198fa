// The name queries against a scripted network on a fake clock: which names
// each kind of host ends with, how often it is asked, that the socket bound
// holds, and that no exchange outlives its 750 ms.
#include "controller/name_queries.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>

#include "protocol/mdns.h"
#include "protocol/node_status.h"

namespace hostsweep::controller {
namespace {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;
using Clock = UdpNetwork::Clock;

constexpr std::uint16_t kNetbiosPort = 137;
constexpr std::uint16_t kMdnsPort = 5353;

// What a host's service does with each request: the datagrams it sends back
// (std::nullopt: "port unreachable").
using Responder = std::function<std::vector<std::optional<Bytes>>(const Bytes& request, int try_)>;

struct SocketLog {
  Address address;
  std::uint16_t port;
  std::vector<milliseconds> sends;  // since the socket was opened
  std::optional<milliseconds> closed;
};

class FakeNetwork : public UdpNetwork {
 public:
  class Socket : public UdpSocket {
   public:
    Socket(FakeNetwork& network, std::size_t log, Responder responder)
        : network_(network), log_(log), responder_(std::move(responder)) {}
    ~Socket() override {
      network_.logs[log_].closed = Since();
      --network_.open;
    }
    bool Send(std::span<const std::uint8_t> datagram) override {
      network_.logs[log_].sends.push_back(Since());
      const Bytes request(datagram.begin(), datagram.end());
      if (responder_) {
        for (auto& reply : responder_(request, static_cast<int>(network_.logs[log_].sends.size()))) {
          inbox.push_back(std::move(reply));
        }
      }
      return true;
    }
    Receipt Receive(std::vector<std::uint8_t>& buffer) override {
      if (inbox.empty()) {
        return Receipt::kNothing;
      }
      auto next = std::move(inbox.front());
      inbox.pop_front();
      if (!next) {
        return Receipt::kRefused;
      }
      buffer = *next;
      return Receipt::kDatagram;
    }
    std::deque<std::optional<Bytes>> inbox;

   private:
    [[nodiscard]] milliseconds Since() const {
      return std::chrono::duration_cast<milliseconds>(network_.now - network_.logs[log_].opened);
    }
    FakeNetwork& network_;
    std::size_t log_;
    Responder responder_;
  };

  std::unique_ptr<UdpSocket> Open(Address address, std::uint16_t port) override {
    logs.push_back({{address, port, {}, {}}, now});
    mostOpen = std::max(mostOpen, ++open);
    const auto responder = responders.find({address, port});
    return std::make_unique<Socket>(*this, logs.size() - 1,
                                    responder == responders.end() ? Responder{} : responder->second);
  }
  // Time passes only while nothing is waiting to be read.
  void Wait(const std::vector<UdpSocket*>& sockets, milliseconds timeout) override {
    for (const auto* socket : sockets) {
      if (!static_cast<const Socket*>(socket)->inbox.empty()) {
        return;
      }
    }
    now += timeout;
  }
  [[nodiscard]] Clock::time_point Now() const override { return now; }

  struct Log : SocketLog {
    Clock::time_point opened;
  };
  std::map<std::pair<Address, std::uint16_t>, Responder> responders;
  std::vector<Log> logs;
  Clock::time_point now{};
  std::size_t open = 0;
  std::size_t mostOpen = 0;
};

Bytes NetbiosAnswer(const Bytes& request, const std::string& name, const std::string& group,
                    int idChange = 0) {
  auto parsed = node_status::ParseRequest(request);
  parsed->transactionId = static_cast<std::uint16_t>(parsed->transactionId + idChange);
  node_status::NodeStatus status{};
  for (const auto& [text, flags] : {std::pair{name, 0x0400}, std::pair{group, 0x8400}}) {
    node_status::NameEntry entry{};
    entry.name.fill(' ');
    std::copy(text.begin(), text.end(), entry.name.begin());
    entry.name.back() = 0;
    entry.flags = static_cast<std::uint16_t>(flags);
    status.names.push_back(entry);
  }
  return node_status::EncodeReply(*parsed, status);
}

Bytes MdnsAnswer(const Bytes& request, const std::string& name, int idChange = 0,
                 const std::string& question = "") {
  auto query = mdns::ParsePtrQuery(request);
  query->id = static_cast<std::uint16_t>(query->id + idChange);
  query->name = question.empty() ? query->name : question;
  return mdns::EncodePtrAnswer(*query, name);
}

Responder Always(std::function<Bytes(const Bytes&)> answer) {
  return [answer = std::move(answer)](const Bytes& request, int) {
    return std::vector<std::optional<Bytes>>{answer(request)};
  };
}

const Responder kRefused = [](const Bytes&, int) {
  return std::vector<std::optional<Bytes>>{std::nullopt};
};

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
       Always([](const Bytes& r) { return MdnsAnswer(r, "nas.local"); }), "nas.local", "NAS", "HOME",
       1, 1},
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
       Always([](const Bytes& r) { return MdnsAnswer(r, "evil.local", 0, "1.0.0.10.in-addr.arpa"); }),
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
  NameQueries queries(network, kMostSockets);
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    queries.Ask(100 + i, static_cast<Address>(0x0A000010 + i));
  }
  std::map<std::size_t, ExtraNames> done;
  for (int turn = 0; turn < 1000 && queries.Busy(); ++turn) {
    queries.Poll(milliseconds{100}, [&](std::size_t position, const ExtraNames& names) {
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

}  // namespace
}  // namespace hostsweep::controller
