// The one asker engine: each host's questions in one protocol go over a
// datagram socket of their own, connected to the host, so datagrams from
// anyone else never reach them; the engine sends, asks again when a try's
// patience is over, ends each exchange in bounded time, and reads what comes
// a few datagrams per socket and a bounded time per turn of the event loop,
// so a host that floods costs only itself time. A protocol says what it asks
// and what an answer brings (a Conversation); the engine does the rest, on
// the loop, with a bound on sockets open at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "controller/base/address.h"
#include "controller/system/datagram_network.h"
#include "controller/system/event_loop.h"

namespace hostsweep::controller {

using Datagram = std::vector<std::uint8_t>;

// Time spent reading answers per turn of the loop, whatever the datagrams
// cost: the loop goes back to the workers and to an interruption after it.
inline constexpr std::chrono::milliseconds kReadingPerTurn{20};

// One host's questions in one protocol, in steps (most protocols have one).
class Conversation {
 public:
  Conversation() = default;
  virtual ~Conversation() = default;
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  // One try of the current step: its questions still unanswered.
  [[nodiscard]] virtual std::vector<Datagram> Questions() const = 0;
  // A datagram from the host; one that answers nothing asked is ignored.
  virtual void Take(std::span<const std::uint8_t> datagram) = 0;
  // True once the current step's questions are all answered.
  [[nodiscard]] virtual bool Answered() const = 0;
  // Moves on to the next step; false when there is none.
  virtual bool NextStep() { return false; }
  // The exchange is over, answered or not: called once, last.
  virtual void End() = 0;
};

struct Patience {
  int tries;                         // per step
  std::chrono::milliseconds perTry;  // before the step is asked again
  std::chrono::milliseconds most;    // from the first question to the end
};

class Asker {
 public:
  Asker(EventLoop& loop, DatagramNetwork& network, Patience patience, std::size_t mostSockets);
  ~Asker();
  Asker(const Asker&) = delete;
  Asker& operator=(const Asker&) = delete;

  // Starts the exchange with `address`:`port` once a socket is free.
  void Ask(Address address, std::uint16_t port, std::unique_ptr<Conversation> conversation);
  [[nodiscard]] bool Busy() const { return !queued_.empty() || !open_.empty(); }

 private:
  struct Exchange;

  void StartQueued();
  void OnReadable(Exchange& exchange);
  // Reads, then moves on; one left unread for lack of time waits in
  // `unread_` (at its front when it was first already).
  void ReadAndAdvance(Exchange& exchange, bool first);
  // Reads what is waiting, up to a count; false when the turn's time ran out.
  bool Read(Exchange& exchange);
  // Sends the next try when it is due, moves on to the next step, or ends
  // the exchange; else sets its timer.
  void Advance(Exchange& exchange);
  void OnTimer(Exchange& exchange);
  void Finish(Exchange& exchange);

  EventLoop& loop_;
  DatagramNetwork& network_;
  Patience patience_;
  std::size_t mostSockets_;
  std::deque<std::unique_ptr<Exchange>> queued_;
  std::vector<std::unique_ptr<Exchange>> open_;
  std::deque<Exchange*> unread_;  // read first in the next turn
  std::uint64_t readingTurn_ = 0;
  EventLoop::Clock::time_point readingEnds_{};
  Datagram buffer_;
};

}  // namespace hostsweep::controller
