// A scripted network on a fake clock for the name queries: each host's
// services answer from a script, every socket's sends and closing are logged.
#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "controller/system/udp_network.h"
#include "tests/tools/mdns_answer.h"
#include "tests/tools/node_status_answer.h"

namespace hostsweep::controller {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;
using Clock = UdpNetwork::Clock;

inline constexpr std::uint16_t kNetbiosPort = 137;
inline constexpr std::uint16_t kMdnsPort = 5353;

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
        for (auto& reply :
             responder_(request, static_cast<int>(network_.logs[log_].sends.size()))) {
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
      network_.now += network_.costOfReading;
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
    return std::make_unique<Socket>(
        *this, logs.size() - 1, responder == responders.end() ? Responder{} : responder->second);
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
  milliseconds costOfReading{0};  // per datagram read, as a slow parse would take
  std::size_t open = 0;
  std::size_t mostOpen = 0;
};

inline Bytes NetbiosAnswer(const Bytes& request, const std::string& name, const std::string& group,
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

inline Bytes MdnsAnswer(const Bytes& request, const std::string& name, int idChange = 0,
                        const std::string& question = "") {
  auto query = mdns::ParsePtrQuery(request);
  query->id = static_cast<std::uint16_t>(query->id + idChange);
  query->name = question.empty() ? query->name : question;
  return mdns::EncodePtrAnswer(*query, name);
}

inline Responder Always(std::function<Bytes(const Bytes&)> answer) {
  return [answer = std::move(answer)](const Bytes& request, int) {
    return std::vector<std::optional<Bytes>>{answer(request)};
  };
}

inline const Responder kRefused = [](const Bytes&, int) {
  return std::vector<std::optional<Bytes>>{std::nullopt};
};

}  // namespace hostsweep::controller
