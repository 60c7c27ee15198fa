// The UPnP search against scripted devices on a fake clock: answers joined
// to swept hosts only, descriptions fetched from the host itself, and no
// device, slow or flooding, holding a host past its bounds.
#include "controller/devices/upnp_search.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

namespace hostsweep::controller {
namespace {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

constexpr Address kLocal = 0x0A000064;  // 10.0.0.100

// A device's web server: a piece of its answer per turn, then the close
// (or, when `closes` is false, silence).
struct Served {
  std::deque<std::string> pieces;
  bool closes = true;
};

class FakeDeviceNetwork : public DeviceNetwork {
 public:
  class Socket : public LinkMulticastSocket {
   public:
    explicit Socket(FakeDeviceNetwork& network) : network_(network) {}
    bool Send(Address group, std::uint16_t port, std::span<const std::uint8_t>) override {
      network_.searches.emplace_back(group, port);
      for (const auto& answer : network_.answers) {
        inbox.push_back(answer);
      }
      return true;
    }
    Receipt Receive(std::vector<std::uint8_t>& buffer, Address& from) override {
      if (inbox.empty()) {
        return Receipt::kNothing;
      }
      std::tie(from, buffer) = inbox.front();
      inbox.pop_front();
      network_.now += network_.costOfReading;
      return Receipt::kDatagram;
    }
    std::deque<std::pair<Address, Bytes>> inbox;

   private:
    FakeDeviceNetwork& network_;
  };

  class Exchange : public TcpExchange {
   public:
    explicit Exchange(Served served) : served(std::move(served)) {}
    StreamState Pump(std::string& into, std::size_t most) override {
      if (served.pieces.empty()) {
        return served.closes ? StreamState::kClosed : StreamState::kOpen;
      }
      into.append(served.pieces.front().substr(0, most - into.size()));
      served.pieces.pop_front();
      return StreamState::kOpen;
    }
    Served served;
  };

  std::unique_ptr<LinkMulticastSocket> OpenMulticast(Address local) override {
    EXPECT_EQ(local, kLocal);
    auto socket = std::make_unique<Socket>(*this);
    sockets.push_back(socket.get());
    return socket;
  }
  std::unique_ptr<TcpExchange> Connect(Address address, std::uint16_t port,
                                       std::string request) override {
    connects.emplace_back(address, request);
    const auto found = servers.find({address, port});
    if (found == servers.end()) {
      return nullptr;
    }
    auto exchange = std::make_unique<Exchange>(found->second);
    exchanges.push_back(exchange.get());
    return exchange;
  }
  void Wait(const std::vector<LinkMulticastSocket*>& waitedSockets,
            const std::vector<TcpExchange*>& waitedExchanges, milliseconds timeout) override {
    for (const auto* socket : waitedSockets) {
      if (!static_cast<const Socket*>(socket)->inbox.empty()) {
        return;
      }
    }
    for (const auto* exchange : waitedExchanges) {
      if (!static_cast<const Exchange*>(exchange)->served.pieces.empty()) {
        return;
      }
    }
    now += timeout;
  }
  [[nodiscard]] Clock::time_point Now() const override { return now; }

  std::vector<std::pair<Address, Bytes>> answers;
  std::map<std::pair<Address, std::uint16_t>, Served> servers;
  std::vector<std::pair<Address, std::uint16_t>> searches;
  std::vector<std::pair<Address, std::string>> connects;
  std::vector<Socket*> sockets;
  std::vector<Exchange*> exchanges;
  Clock::time_point now{};
  milliseconds costOfReading{0};
};

Bytes Answer(const std::string& location, const std::string& target) {
  const std::string text =
      "HTTP/1.1 200 OK\r\nLOCATION: " + location + "\r\nST: " + target + "\r\n\r\n";
  return {text.begin(), text.end()};
}

const std::string kRouterType = "urn:schemas-upnp-org:device:InternetGatewayDevice:1";
const std::string kServerType = "urn:schemas-upnp-org:device:MediaServer:1";

TEST(UpnpSearch, SweptHostsGetTheirOwnAnswersAndDescriptionsWithinTheBounds) {
  const std::string description =
      "<root><device><deviceType>" + kRouterType +
      "</deviceType><manufacturer>Netgear</manufacturer><modelName>R7000</modelName>"
      "</device></root>";
  FakeDeviceNetwork network;
  network.costOfReading = milliseconds{1};
  const Address router = 0x0A000001;
  const Address liar = 0x0A000002;
  const Address slow = 0x0A000003;
  const Address flood = 0x0A000004;
  const Address unswept = 0x0A0000C8;
  network.answers = {{router, Answer("http://10.0.0.1:5000/d.xml", "upnp:rootdevice")},
                     {router, Answer("http://10.0.0.1:5000/d.xml", kRouterType)},
                     {liar, Answer("http://10.0.0.99/d.xml", kServerType)},
                     {slow, Answer("http://10.0.0.3/", kServerType)},
                     {unswept, Answer("http://10.0.0.200/", kRouterType)}};
  for (int i = 0; i < 500; ++i) {
    network.answers.emplace_back(
        flood, Answer("http://10.0.0.4/", "urn:x:device:t" + std::to_string(i) + ":1"));
  }
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(description.size()) + "\r\n\r\n";
  network.servers[{router, 5000}] = {{head, description.substr(0, 20), description.substr(20)}};
  network.servers[{slow, 80}] = {{"HTTP/1.1 200 OK\r\n"}, false};
  network.servers[{flood, 80}] = {{"HTTP/1.1 200 OK\r\n\r\n" + std::string(200000, 'x')}};
  const std::vector<Address> swept{router, liar, slow, flood};
  UpnpSearch search(network, {kLocal}, swept);
  for (std::size_t i = 0; i < swept.size(); ++i) {
    search.Ask(i, swept[i]);
  }
  std::map<std::size_t, std::vector<Announcement>> said;
  for (int turn = 0; turn < 1000 && search.Busy(); ++turn) {
    search.Poll(milliseconds{100}, [&](std::size_t position, std::vector<Announcement> heard) {
      EXPECT_TRUE(said.emplace(position, std::move(heard)).second) << position;
    });
  }
  ASSERT_FALSE(search.Busy());
  EXPECT_EQ(network.searches,
            (std::vector<std::pair<Address, std::uint16_t>>{{kSsdpGroup, kSsdpPort}}));
  EXPECT_LE(network.now - DeviceNetwork::Clock::time_point{},
            kSsdpListening + kDescriptionTime + milliseconds{50});
  EXPECT_EQ(said[0], (std::vector<Announcement>{{"ssdp:deviceType", kRouterType},
                                                {"ssdp:deviceType", kRouterType},
                                                {"ssdp:manufacturer", "Netgear"},
                                                {"ssdp:modelName", "R7000"}}));
  EXPECT_EQ(said[1], (std::vector<Announcement>{{"ssdp:deviceType", kServerType}}));
  EXPECT_EQ(said[2], (std::vector<Announcement>{{"ssdp:deviceType", kServerType}}));
  EXPECT_EQ(said[3].size(), kMostTargetsPerHost);
  // Each host's own address only, once each; the liar's URL is not fetched.
  ASSERT_EQ(network.connects.size(), 3U);
  EXPECT_EQ(
      network.connects[0],
      std::make_pair(router, std::string("GET /d.xml HTTP/1.1\r\nHost: 10.0.0.1:5000\r\n"
                                         "Connection: close\r\nUser-Agent: hostsweep\r\n\r\n")));
  EXPECT_EQ(network.connects[1].first, slow);
  EXPECT_EQ(network.connects[2].first, flood);
}

}  // namespace
}  // namespace hostsweep::controller
