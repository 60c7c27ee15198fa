// Names for live hosts that reverse DNS does not know: one NetBIOS node
// status exchange (UDP 137) and one mDNS reverse lookup (UDP 5353, legacy
// unicast) per host, all hosts in parallel with a bound on sockets of their
// own, each exchange over in 750 ms with its retries.
//
// An exchange ends with the first answer that is well formed, carries its
// transaction ID and answers its question; its socket is connected to the
// host, so datagrams from any other address never reach it. A host that
// floods is read a few datagrams per turn, so it cannot hold up the others.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controller/base/address.h"
#include "controller/base/results.h"
#include "controller/base/stage.h"
#include "controller/system/resolver.h"
#include "controller/system/udp_network.h"

namespace hostsweep::controller {

// Tries per exchange, and how long each waits before the next.
inline constexpr int kNameTries = 3;
inline constexpr std::chrono::milliseconds kNameTryPatience{250};
// Time spent reading answers per turn, whatever the datagrams cost: the
// sweep's loop goes back to its workers and to an interruption after it.
inline constexpr std::chrono::milliseconds kNameReadingPerTurn{20};

class NameQueries {
 public:
  using Done = std::function<void(std::size_t position, const ExtraNames& names)>;

  NameQueries(UdpNetwork& network, std::size_t mostSockets);
  ~NameQueries();
  NameQueries(const NameQueries&) = delete;
  NameQueries& operator=(const NameQueries&) = delete;

  // Queues both exchanges for the host at `position` of the sweep, or the
  // NetBIOS one alone (`netbiosOnly`: for its name table, when the host has
  // a name already).
  void Ask(std::size_t position, Address address, bool netbiosOnly = false);
  // True while a host asked about is not done.
  [[nodiscard]] bool Busy() const { return unfinished_ > 0; }
  // Starts queued exchanges, waits at most `timeout` for answers, sends the
  // retries that are due and hands every host whose exchanges have both
  // ended to `done`.
  void Poll(std::chrono::milliseconds timeout, const Done& done);

 private:
  struct Exchange;
  struct Host {
    std::size_t position;
    Address address;
    ExtraNames names;
    int openExchanges;
  };

  void StartQueued(const Done& done);
  // Reads what is waiting, up to a count; false when `readingEnds` came first.
  bool Read(Exchange& exchange, UdpNetwork::Clock::time_point readingEnds);
  void Advance(Exchange& exchange);
  void End(Exchange& exchange, const Done& done);
  [[nodiscard]] std::chrono::milliseconds TimeToNextEvent() const;

  UdpNetwork& network_;
  std::size_t mostSockets_;
  std::vector<Host> hosts_;
  std::deque<std::unique_ptr<Exchange>> queued_;
  std::vector<std::unique_ptr<Exchange>> open_;
  std::vector<std::uint8_t> buffer_;
  std::size_t unfinished_ = 0;
};

// The names the controller asks for, as a stage of the sweep, after the link
// layer's, which tells the silent hosts. A silent host's worker names nothing,
// so reverse DNS is asked for it first, as a worker would; then every live or
// silent host still without a name is asked the questions above (when
// `queries` is given: not with --no-extra-names). Its result waits for the
// answers.
class NameStage : public Stage {
 public:
  NameStage(Resolver& resolver, NameQueries* queries) : resolver_(resolver), queries_(queries) {}

  void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) override;
  [[nodiscard]] bool Busy() const override {
    return resolver_.Busy() || (queries_ != nullptr && queries_->Busy());
  }
  void Poll(ResultBook& book, std::chrono::milliseconds timeout) override;

 private:
  void Ask(ResultBook& book, std::size_t position);

  Resolver& resolver_;
  NameQueries* queries_;
};

}  // namespace hostsweep::controller
