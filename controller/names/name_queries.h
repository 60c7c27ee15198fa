// Names for live hosts that reverse DNS does not know: one NetBIOS node
// status exchange (UDP 137) and one mDNS reverse lookup (UDP 5353, legacy
// unicast) per host, asked through the asker engine: all hosts in parallel
// with a bound on sockets, each exchange over in 750 ms with its retries.
//
// An exchange ends with the first answer that is well formed, carries its
// transaction ID and answers its question.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "controller/asking/asker.h"
#include "controller/base/address.h"
#include "controller/base/results.h"
#include "controller/base/stage.h"
#include "controller/system/resolver.h"

namespace hostsweep::controller {

// Tries per exchange, and how long each waits before the next.
inline constexpr int kNameTries = 3;
inline constexpr std::chrono::milliseconds kNameTryPatience{250};

class NameQueries {
 public:
  using Done = std::function<void(std::size_t position, const ExtraNames& names)>;

  NameQueries(EventLoop& loop, DatagramNetwork& network, std::size_t mostSockets);

  // Asks both questions of the host at `position` of the sweep, or the
  // NetBIOS one alone (`netbiosOnly`: for its name table, when the host has
  // a name already).
  void Ask(std::size_t position, Address address, bool netbiosOnly = false);
  // True while a host asked about is not handed over.
  [[nodiscard]] bool Busy() const { return unfinished_ > 0; }
  // Hands every host whose exchanges have both ended to `done`, once.
  void Take(const Done& done);

 private:
  class Exchange;
  struct Host {
    std::size_t position;
    ExtraNames names;
    int openExchanges;
  };

  void Ended(std::size_t host);

  Asker asker_;
  std::vector<Host> hosts_;
  std::vector<std::size_t> ended_;  // hosts whose answers are all in
  std::size_t unfinished_ = 0;
};

// The names the controller asks for, as a stage of the sweep, after the link
// layer's, which tells the silent hosts. A silent host's worker names nothing,
// so reverse DNS is asked for it first, as a worker would; then every live or
// silent host still without a name is asked the questions above (when
// `queries` is given: not with --no-extra-names). Its result waits for the
// answers, which come on the loop.
class NameStage : public Stage {
 public:
  NameStage(Resolver& resolver, NameQueries* queries) : resolver_(resolver), queries_(queries) {}

  void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) override;
  [[nodiscard]] bool Busy() const override {
    return resolver_.Busy() || (queries_ != nullptr && queries_->Busy());
  }
  // Reverse DNS waits off the loop, on threads of its own; an answer ends
  // the loop's turn.
  void Poll(ResultBook& book, std::chrono::milliseconds timeout) override;

 private:
  void Ask(ResultBook& book, std::size_t position);

  Resolver& resolver_;
  NameQueries* queries_;
};

}  // namespace hostsweep::controller
