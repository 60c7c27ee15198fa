// A scripted network on a fake clock for the askers: each host's services
// answer from a script, every socket's sends and closing are logged, and the
// loop's waits find ready what has something to read.
#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "controller/system/datagram_network.h"
#include "tests/tools/mdns_answer.h"
#include "tests/tools/node_status_answer.h"

namespace hostsweep::controller {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;
using Clock = EventLoop::Clock;

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

class FakeNetwork : public DatagramNetwork {
 public:
  class Socket : public DatagramSocket {
   public:
    Socket(FakeNetwork& network, std::size_t log, Responder responder)
        : network_(network),
          log_(log),
          handle_(network.NewDescriptor()),
          responder_(std::move(responder)) {
      network_.sockets_[handle_] = this;
    }
    ~Socket() override {
      network_.logs[log_].closed = Since();
      network_.sockets_.erase(handle_);
      --network_.open;
    }
    [[nodiscard]] Descriptor Handle() const override { return handle_; }
    bool Send(std::span<const std::uint8_t> datagram) override {
      network_.logs[log_].sends.push_back(Since());
      const Bytes request(datagram.begin(), datagram.end());
      if (responder_) {
        for (auto& reply :
             responder_(request, static_cast<int>(network_.logs[log_].sends.size()))) {
          inbox.emplace_back(network_.logs[log_].address, std::move(reply));
        }
      }
      return true;
    }
    // Multicast: every device's answer comes back.
    bool SendTo(Address to, std::uint16_t port, std::span<const std::uint8_t>) override {
      network_.searches.emplace_back(to, port);
      for (const auto& [from, answer] : network_.multicastAnswers) {
        inbox.emplace_back(from, answer);
      }
      return true;
    }
    Receipt Receive(std::vector<std::uint8_t>& buffer, Address& from) override {
      if (inbox.empty()) {
        return Receipt::kNothing;
      }
      auto next = std::move(inbox.front());
      inbox.pop_front();
      network_.now += network_.costOfReading;
      if (!next.second) {
        return Receipt::kRefused;
      }
      from = next.first;
      buffer = *next.second;
      return Receipt::kDatagram;
    }
    std::deque<std::pair<Address, std::optional<Bytes>>> inbox;

   private:
    [[nodiscard]] milliseconds Since() const {
      return std::chrono::duration_cast<milliseconds>(network_.now - network_.logs[log_].opened);
    }
    FakeNetwork& network_;
    std::size_t log_;
    Descriptor handle_;
    Responder responder_;
  };

  // Waits on the network's clock: time passes only while nothing is ready.
  class Waits : public Poller {
   public:
    explicit Waits(FakeNetwork& network) : network_(network) {}
    [[nodiscard]] Clock::time_point Now() const override { return network_.now; }
    void Wait(std::span<PollEntry> entries, int timeoutMs) override {
      if (timeoutMs == kForever) {
        throw std::logic_error("the loop waits for ever with nothing that can come");
      }
      if (!network_.MarkReady(entries)) {
        network_.now += milliseconds{timeoutMs};
      }
    }

   private:
    FakeNetwork& network_;
  };

  std::unique_ptr<DatagramSocket> Connect(Address address, std::uint16_t port) override {
    return Open(address, port);
  }
  std::unique_ptr<DatagramSocket> OpenMulticast(Address local) override {
    multicastFrom.push_back(local);
    return Open(local, 0);
  }

  // Marks the entries with something to read; false when there is none.
  bool MarkReady(std::span<PollEntry> entries) const {
    bool any = false;
    for (auto& entry : entries) {
      const auto socket = sockets_.find(entry.descriptor);
      if ((socket != sockets_.end() && !socket->second->inbox.empty()) ||
          (otherReady && otherReady(entry.descriptor))) {
        entry.ready = kReadable;
        any = true;
      }
    }
    return any;
  }
  Descriptor NewDescriptor() { return nextDescriptor_++; }

  struct Log : SocketLog {
    Clock::time_point opened;
  };
  std::map<std::pair<Address, std::uint16_t>, Responder> responders;
  std::vector<std::pair<Address, Bytes>> multicastAnswers;
  std::vector<Address> multicastFrom;
  std::vector<std::pair<Address, std::uint16_t>> searches;
  std::function<bool(Descriptor)> otherReady;  // descriptors of other fakes
  std::vector<Log> logs;
  Clock::time_point now{};
  milliseconds costOfReading{0};  // per datagram read, as a slow parse would take
  std::size_t open = 0;
  std::size_t mostOpen = 0;

 private:
  std::unique_ptr<DatagramSocket> Open(Address address, std::uint16_t port) {
    logs.push_back({{address, port, {}, {}}, now});
    mostOpen = std::max(mostOpen, ++open);
    const auto responder = responders.find({address, port});
    return std::make_unique<Socket>(
        *this, logs.size() - 1, responder == responders.end() ? Responder{} : responder->second);
  }

  std::map<Descriptor, Socket*> sockets_;
  Descriptor nextDescriptor_ = 100;
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
