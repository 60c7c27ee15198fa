#include "controller/asking/asker.h"

#include <algorithm>

namespace hostsweep::controller {
namespace {

// Datagrams read from one socket per turn: a flooding host gets no more.
constexpr int kReadsPerTurn = 8;
// Larger than any UDP datagram, so that an answer is never cut short unnoticed.
constexpr std::size_t kBufferSize = 65536;

}  // namespace

struct Asker::Exchange {
  Address address;
  std::uint16_t port;
  std::unique_ptr<Conversation> conversation;
  std::unique_ptr<DatagramSocket> socket{};
  EventLoop::Clock::time_point started{};
  EventLoop::Clock::time_point stepStarted{};
  int tries = 0;
  EventLoop::TimerId timer = 0;
  bool unread = false;
  bool refused = false;
};

Asker::Asker(EventLoop& loop, DatagramNetwork& network, Patience patience, std::size_t mostSockets)
    : loop_(loop),
      network_(network),
      patience_(patience),
      mostSockets_(std::max<std::size_t>(mostSockets, 1)) {}

Asker::~Asker() {
  for (const auto& exchange : open_) {
    loop_.Unwatch(exchange->socket->Handle());
    loop_.Cancel(exchange->timer);
  }
}

void Asker::Ask(Address address, std::uint16_t port, std::unique_ptr<Conversation> conversation) {
  queued_.push_back(std::make_unique<Exchange>(
      Exchange{.address = address, .port = port, .conversation = std::move(conversation)}));
  StartQueued();
}

void Asker::StartQueued() {
  while (open_.size() < mostSockets_ && !queued_.empty()) {
    auto exchange = std::move(queued_.front());
    queued_.pop_front();
    exchange->socket = network_.Connect(exchange->address, exchange->port);
    if (!exchange->socket) {
      exchange->conversation->End();
      continue;
    }
    exchange->started = exchange->stepStarted = loop_.Now();
    Exchange& opened = *exchange;
    open_.push_back(std::move(exchange));
    loop_.Watch(opened.socket->Handle(), kReadable,
                [this, &opened](unsigned /*ready*/) { OnReadable(opened); });
    Advance(opened);
  }
}

void Asker::OnReadable(Exchange& exchange) {
  // One left unread is read in its place in the queue (and may end there).
  const bool queued = exchange.unread;
  // The first socket of a turn starts its reading time, and reads those a
  // turn before left unread first.
  if (loop_.Turn() != readingTurn_) {
    readingTurn_ = loop_.Turn();
    readingEnds_ = loop_.Now() + kReadingPerTurn;
    while (!unread_.empty() && loop_.Now() < readingEnds_) {
      Exchange& first = *unread_.front();
      unread_.pop_front();
      first.unread = false;
      ReadAndAdvance(first, true);
    }
  }
  if (!queued) {
    ReadAndAdvance(exchange, false);
  }
  StartQueued();
}

void Asker::ReadAndAdvance(Exchange& exchange, bool first) {
  if (!Read(exchange)) {
    // Not moved on before it is read to the end: an answer already waiting
    // still counts.
    exchange.unread = true;
    if (first) {
      unread_.push_front(&exchange);
    } else {
      unread_.push_back(&exchange);
    }
    return;
  }
  if (exchange.refused) {
    Finish(exchange);
    return;
  }
  Advance(exchange);
}

bool Asker::Read(Exchange& exchange) {
  for (int read = 0; read < kReadsPerTurn; ++read) {
    if (loop_.Now() >= readingEnds_) {
      return false;
    }
    buffer_.resize(kBufferSize);
    Address from = 0;
    const Receipt receipt = exchange.socket->Receive(buffer_, from);
    if (receipt == Receipt::kNothing) {
      return true;
    }
    if (receipt == Receipt::kRefused) {
      exchange.refused = true;
      return true;
    }
    exchange.conversation->Take(buffer_);
  }
  return true;
}

void Asker::Advance(Exchange& exchange) {
  loop_.Cancel(exchange.timer);
  while (true) {
    const auto now = loop_.Now();
    const auto end = exchange.started + patience_.most;
    if (now >= end) {
      Finish(exchange);
      return;
    }
    const bool answered = exchange.conversation->Answered();
    const auto nextTry = exchange.stepStarted + patience_.perTry * exchange.tries;
    if (!answered && now < nextTry) {
      exchange.timer = loop_.At(std::min(nextTry, end), [this, &exchange] { OnTimer(exchange); });
      return;
    }
    if (answered || exchange.tries == patience_.tries) {
      if (!exchange.conversation->NextStep()) {
        Finish(exchange);
        return;
      }
      exchange.tries = 0;
      exchange.stepStarted = now;
      continue;
    }
    ++exchange.tries;
    for (const auto& question : exchange.conversation->Questions()) {
      if (!exchange.socket->Send(question)) {
        Finish(exchange);
        return;
      }
    }
  }
}

void Asker::OnTimer(Exchange& exchange) {
  exchange.timer = 0;
  if (exchange.unread) {
    exchange.timer =
        loop_.After(EventLoop::Clock::duration::zero(), [this, &exchange] { OnTimer(exchange); });
    return;
  }
  Advance(exchange);
  StartQueued();
}

void Asker::Finish(Exchange& exchange) {
  loop_.Unwatch(exchange.socket->Handle());
  loop_.Cancel(exchange.timer);
  std::erase(unread_, &exchange);
  exchange.socket.reset();
  const auto owned = std::find_if(open_.begin(), open_.end(), [&exchange](const auto& open) {
    return open.get() == &exchange;
  });
  auto ending = std::move(*owned);
  open_.erase(owned);
  ending->conversation->End();
}

}  // namespace hostsweep::controller
