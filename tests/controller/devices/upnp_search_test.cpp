// The UPnP search against scripted devices on a fake clock: answers joined
// to swept hosts only, descriptions fetched from the host itself, and no
// device, slow or flooding, holding a host past its bounds.
#include "controller/devices/upnp_search.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "tests/controller/asking/fake_datagram_network.h"

namespace hostsweep::controller {
namespace {

constexpr Address kLocal = 0x0A000064;  // 10.0.0.100

// A device's web server: a piece of its answer per turn, then the close
// (or, when `closes` is false, silence).
struct Served {
  std::deque<std::string> pieces;
  bool closes = true;
};

// The devices' web servers, beside the datagrams of `datagrams`.
class FakeTcpNetwork : public TcpNetwork {
 public:
  class Exchange : public TcpExchange {
   public:
    Exchange(Served served, Descriptor handle) : served(std::move(served)), handle_(handle) {}
    [[nodiscard]] Descriptor Handle() const override { return handle_; }
    [[nodiscard]] bool Sending() const override { return false; }
    StreamState Pump(std::string& into, std::size_t most) override {
      if (served.pieces.empty()) {
        return served.closes ? StreamState::kClosed : StreamState::kOpen;
      }
      into.append(served.pieces.front().substr(0, most - into.size()));
      served.pieces.pop_front();
      return StreamState::kOpen;
    }
    [[nodiscard]] bool Ready() const { return !served.pieces.empty() || served.closes; }
    Served served;

   private:
    Descriptor handle_;
  };

  explicit FakeTcpNetwork(FakeNetwork& datagrams) : datagrams_(datagrams) {
    datagrams_.otherReady = [this](Descriptor handle) {
      const auto exchange = exchanges.find(handle);
      return exchange != exchanges.end() && exchange->second->Ready();
    };
  }
  std::unique_ptr<TcpExchange> Connect(Address address, std::uint16_t port,
                                       std::string request) override {
    connects.emplace_back(address, request);
    const auto found = servers.find({address, port});
    if (found == servers.end()) {
      return nullptr;
    }
    auto exchange = std::make_unique<Exchange>(found->second, datagrams_.NewDescriptor());
    exchanges[exchange->Handle()] = exchange.get();
    return exchange;
  }

  std::map<std::pair<Address, std::uint16_t>, Served> servers;
  std::vector<std::pair<Address, std::string>> connects;
  std::map<Descriptor, Exchange*> exchanges;

 private:
  FakeNetwork& datagrams_;
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
  FakeNetwork network;
  FakeTcpNetwork web(network);
  network.costOfReading = milliseconds{1};
  const Address router = 0x0A000001;
  const Address liar = 0x0A000002;
  const Address slow = 0x0A000003;
  const Address flood = 0x0A000004;
  const Address unswept = 0x0A0000C8;
  network.multicastAnswers = {{router, Answer("http://10.0.0.1:5000/d.xml", "upnp:rootdevice")},
                              {router, Answer("http://10.0.0.1:5000/d.xml", kRouterType)},
                              {liar, Answer("http://10.0.0.99/d.xml", kServerType)},
                              {slow, Answer("http://10.0.0.3/", kServerType)},
                              {unswept, Answer("http://10.0.0.200/", kRouterType)}};
  for (int i = 0; i < 500; ++i) {
    network.multicastAnswers.emplace_back(
        flood, Answer("http://10.0.0.4/", "urn:x:device:t" + std::to_string(i) + ":1"));
  }
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(description.size()) + "\r\n\r\n";
  web.servers[{router, 5000}] = {{head, description.substr(0, 20), description.substr(20)}};
  web.servers[{slow, 80}] = {{"HTTP/1.1 200 OK\r\n"}, false};
  web.servers[{flood, 80}] = {{"HTTP/1.1 200 OK\r\n\r\n" + std::string(200000, 'x')}};
  const std::vector<Address> swept{router, liar, slow, flood};
  EventLoop loop(std::make_unique<FakeNetwork::Waits>(network));
  UpnpSearch search(loop, network, web, {kLocal}, swept);
  for (std::size_t i = 0; i < swept.size(); ++i) {
    search.Ask(i, swept[i]);
  }
  std::map<std::size_t, std::vector<Announcement>> said;
  for (int turn = 0; turn < 1000 && search.Busy(); ++turn) {
    loop.RunOnce(milliseconds{100});
    search.Take([&](std::size_t position, std::vector<Announcement> heard) {
      EXPECT_TRUE(said.emplace(position, std::move(heard)).second) << position;
    });
  }
  ASSERT_FALSE(search.Busy());
  EXPECT_EQ(network.searches,
            (std::vector<std::pair<Address, std::uint16_t>>{{kSsdpGroup, kSsdpPort}}));
  EXPECT_EQ(network.multicastFrom, std::vector<Address>{kLocal});
  EXPECT_LE(network.now - Clock::time_point{},
            kSsdpListening + kDescriptionTime + milliseconds{50});
  EXPECT_EQ(said[0], (std::vector<Announcement>{{"ssdp:deviceType", kRouterType},
                                                {"ssdp:deviceType", kRouterType},
                                                {"ssdp:manufacturer", "Netgear"},
                                                {"ssdp:modelName", "R7000"}}));
  EXPECT_EQ(said[1], (std::vector<Announcement>{{"ssdp:deviceType", kServerType}}));
  EXPECT_EQ(said[2], (std::vector<Announcement>{{"ssdp:deviceType", kServerType}}));
  EXPECT_EQ(said[3].size(), kMostTargetsPerHost);
  // Each host's own address only, once each; the liar's URL is not fetched.
  ASSERT_EQ(web.connects.size(), 3U);
  EXPECT_EQ(
      web.connects[0],
      std::make_pair(router, std::string("GET /d.xml HTTP/1.1\r\nHost: 10.0.0.1:5000\r\n"
                                         "Connection: close\r\nUser-Agent: hostsweep\r\n\r\n")));
  EXPECT_EQ(web.connects[1].first, slow);
  EXPECT_EQ(web.connects[2].first, flood);
}

}  // namespace
}  // namespace hostsweep::controller
