#include "controller/names/name_queries.h"

#include <algorithm>
#include <random>

#include "common/mdns.h"
#include "common/node_status.h"

namespace hostsweep::controller {
namespace {

using std::chrono::milliseconds;

// Datagrams read from one socket per turn: a flooding host gets no more.
constexpr int kReadsPerTurn = 8;
// Larger than any UDP datagram, so that an answer is never cut short unnoticed.
constexpr std::size_t kBufferSize = 65536;

enum class Service { kNetbios, kMdns };

std::uint16_t NewTransactionId() {
  static std::mt19937 random{std::random_device{}()};
  return static_cast<std::uint16_t>(random());
}

}  // namespace

struct NameQueries::Exchange {
  std::size_t host;
  Service service;
  std::uint16_t id = NewTransactionId();
  std::string question{};  // the mDNS name asked for
  std::unique_ptr<UdpSocket> socket{};
  UdpNetwork::Clock::time_point started{};
  int sent = 0;
  bool ended = false;

  [[nodiscard]] std::vector<std::uint8_t> Request() const {
    return service == Service::kNetbios ? node_status::EncodeRequest(id)
                                        : mdns::EncodePtrQuery(id, question);
  }
  [[nodiscard]] UdpNetwork::Clock::time_point NextEvent() const {
    return started + kNameTryPatience * sent;
  }
};

NameQueries::NameQueries(UdpNetwork& network, std::size_t mostSockets)
    : network_(network), mostSockets_(std::max<std::size_t>(mostSockets, 1)) {}

NameQueries::~NameQueries() = default;

void NameQueries::Ask(std::size_t position, Address address, bool netbiosOnly) {
  const std::size_t host = hosts_.size();
  hosts_.push_back({position, address, {}, netbiosOnly ? 1 : 2});
  queued_.push_back(
      std::make_unique<Exchange>(Exchange{.host = host, .service = Service::kNetbios}));
  if (!netbiosOnly) {
    queued_.push_back(std::make_unique<Exchange>(
        Exchange{.host = host, .service = Service::kMdns, .question = mdns::ReverseName(address)}));
  }
  ++unfinished_;
}

void NameQueries::Poll(milliseconds timeout, const Done& done) {
  StartQueued(done);
  std::vector<UdpSocket*> sockets;
  for (const auto& exchange : open_) {
    sockets.push_back(exchange->socket.get());
  }
  if (!sockets.empty()) {
    network_.Wait(sockets, std::min(timeout, TimeToNextEvent()));
  }
  // The sockets left unread are read first in the next turn.
  const auto readingEnds = network_.Now() + kNameReadingPerTurn;
  std::size_t unreadFrom = open_.size();
  for (std::size_t i = 0; i < open_.size(); ++i) {
    Exchange& exchange = *open_[i];
    if (unreadFrom == open_.size() && !Read(exchange, readingEnds)) {
      unreadFrom = i;
    }
    // One not read to the end waits for its next try or its end until it is:
    // an answer already waiting still counts.
    if (i >= unreadFrom) {
      continue;
    }
    Advance(exchange);
    if (exchange.ended) {
      End(exchange, done);
    }
  }
  std::rotate(open_.begin(), open_.begin() + static_cast<std::ptrdiff_t>(unreadFrom), open_.end());
  std::erase_if(open_, [](const auto& exchange) { return exchange->ended; });
  StartQueued(done);
}

void NameQueries::StartQueued(const Done& done) {
  while (open_.size() < mostSockets_ && !queued_.empty()) {
    auto exchange = std::move(queued_.front());
    queued_.pop_front();
    const Address address = hosts_[exchange->host].address;
    exchange->socket = network_.Open(
        address, exchange->service == Service::kNetbios ? node_status::kPort : mdns::kPort);
    exchange->started = network_.Now();
    if (exchange->socket) {
      Advance(*exchange);
    }
    if (!exchange->socket || exchange->ended) {
      End(*exchange, done);
      continue;
    }
    open_.push_back(std::move(exchange));
  }
}

bool NameQueries::Read(Exchange& exchange, UdpNetwork::Clock::time_point readingEnds) {
  for (int read = 0; read < kReadsPerTurn && !exchange.ended; ++read) {
    if (network_.Now() >= readingEnds) {
      return false;
    }
    buffer_.resize(kBufferSize);
    const Receipt receipt = exchange.socket->Receive(buffer_);
    if (receipt == Receipt::kNothing) {
      return true;
    }
    if (receipt == Receipt::kRefused) {
      exchange.ended = true;
      return true;
    }
    ExtraNames& names = hosts_[exchange.host].names;
    if (exchange.service == Service::kNetbios) {
      if (const auto status = node_status::ParseReply(buffer_, exchange.id)) {
        const auto found = node_status::NamesOf(*status);
        names.netbios = found.workstation;
        names.workgroup = found.workgroup;
        for (const auto& entry : status->names) {
          names.table.push_back(
              {.suffix = entry.name.back(), .group = (entry.flags & node_status::kGroupFlag) != 0});
        }
        // The statistics open with the unit ID; a short reply's is all zeros.
        MacAddress unitId{};
        std::copy_n(status->statistics.begin(), unitId.size(), unitId.begin());
        names.unitId = unitId;
        exchange.ended = true;
      }
    } else if (auto name = mdns::ParsePtrAnswer(buffer_, exchange.id, exchange.question)) {
      names.mdns = std::move(*name);
      exchange.ended = true;
    }
  }
  return true;
}

// Sends the next try when it is due; ends the exchange when its last try has
// had its time. All tries share one ID, so a late answer to an earlier one counts.
void NameQueries::Advance(Exchange& exchange) {
  if (exchange.ended || network_.Now() < exchange.NextEvent()) {
    return;
  }
  if (exchange.sent == kNameTries) {
    exchange.ended = true;
    return;
  }
  ++exchange.sent;
  if (!exchange.socket->Send(exchange.Request())) {
    exchange.ended = true;
  }
}

void NameQueries::End(Exchange& exchange, const Done& done) {
  exchange.ended = true;
  exchange.socket.reset();
  Host& host = hosts_[exchange.host];
  if (--host.openExchanges == 0) {
    --unfinished_;
    done(host.position, host.names);
  }
}

milliseconds NameQueries::TimeToNextEvent() const {
  auto next = UdpNetwork::Clock::time_point::max();
  for (const auto& exchange : open_) {
    next = std::min(next, exchange->NextEvent());
  }
  const auto left = std::chrono::ceil<milliseconds>(next - network_.Now());
  return std::max(left, milliseconds{0});
}

void NameStage::Enrich(ResultBook& book, const std::vector<std::size_t>& finished) {
  for (const std::size_t position : finished) {
    const HostResult& result = book.Results()[position];
    const State state = StateOf(result);
    if (state == State::kSilent && result.probe.name.empty()) {
      book.AwaitNames(position);
      resolver_.Ask(position, result.address);
    } else if (state == State::kAlive && result.probe.name.empty() && queries_ != nullptr) {
      Ask(book, position);
    }
  }
}

void NameStage::Ask(ResultBook& book, std::size_t position) {
  book.AwaitNames(position);
  queries_->Ask(position, book.Results()[position].address);
}

void NameStage::Poll(ResultBook& book, milliseconds timeout) {
  // The questions' sockets are waited on when there are any.
  const bool asking = queries_ != nullptr && queries_->Busy();
  for (auto& [position, name] : resolver_.Take(asking ? milliseconds{0} : timeout)) {
    if (name.empty() && queries_ != nullptr) {
      Ask(book, position);
    } else {
      book.FileNames(position, {.dns = std::move(name)});
    }
  }
  if (queries_ != nullptr && queries_->Busy()) {
    queries_->Poll(timeout, [&book](std::size_t position, const ExtraNames& names) {
      book.FileNames(position, names);
    });
  }
}

}  // namespace hostsweep::controller
