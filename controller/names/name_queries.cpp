#include "controller/names/name_queries.h"

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <utility>

#include "common/mdns.h"
#include "common/node_status.h"

namespace hostsweep::controller {
namespace {

std::uint16_t NewTransactionId() {
  static std::mt19937 random{std::random_device{}()};
  return static_cast<std::uint16_t>(random());
}

}  // namespace

// One question, NetBIOS or mDNS, and the names its answer brings. All tries
// share one ID, so a late answer to an earlier one counts.
class NameQueries::Exchange : public Conversation {
 public:
  // `question`: the mDNS name asked for; empty for NetBIOS.
  Exchange(NameQueries& queries, std::size_t host, std::string question)
      : queries_(queries), host_(host), question_(std::move(question)) {}

  [[nodiscard]] std::vector<Datagram> Questions() const override {
    return {question_.empty() ? node_status::EncodeRequest(id_)
                              : mdns::EncodePtrQuery(id_, question_)};
  }
  void Take(std::span<const std::uint8_t> datagram) override {
    if (!answered_) {
      answered_ = question_.empty() ? TakeNodeStatus(datagram) : TakeMdnsName(datagram);
    }
  }
  [[nodiscard]] bool Answered() const override { return answered_; }
  void End() override { queries_.Ended(host_); }

 private:
  [[nodiscard]] ExtraNames& Names() const { return queries_.hosts_[host_].names; }

  bool TakeNodeStatus(std::span<const std::uint8_t> datagram) {
    const auto status = node_status::ParseReply(datagram, id_);
    if (!status) {
      return false;
    }
    ExtraNames& names = Names();
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
    return true;
  }

  bool TakeMdnsName(std::span<const std::uint8_t> datagram) {
    auto name = mdns::ParsePtrAnswer(datagram, id_, question_);
    if (name) {
      Names().mdns = std::move(*name);
    }
    return name.has_value();
  }

  NameQueries& queries_;
  std::size_t host_;
  std::string question_;
  std::uint16_t id_ = NewTransactionId();
  bool answered_ = false;
};

NameQueries::NameQueries(EventLoop& loop, DatagramNetwork& network, std::size_t mostSockets)
    : asker_(
          loop, network,
          {.tries = kNameTries, .perTry = kNameTryPatience, .most = kNameTryPatience * kNameTries},
          mostSockets) {}

void NameQueries::Ask(std::size_t position, Address address, bool netbiosOnly) {
  const std::size_t host = hosts_.size();
  hosts_.push_back({position, {}, netbiosOnly ? 1 : 2});
  ++unfinished_;
  asker_.Ask(address, node_status::kPort, std::make_unique<Exchange>(*this, host, ""));
  if (!netbiosOnly) {
    asker_.Ask(address, mdns::kPort,
               std::make_unique<Exchange>(*this, host, mdns::ReverseName(address)));
  }
}

void NameQueries::Ended(std::size_t host) {
  if (--hosts_[host].openExchanges == 0) {
    ended_.push_back(host);
  }
}

void NameQueries::Take(const Done& done) {
  for (const std::size_t host : std::exchange(ended_, {})) {
    --unfinished_;
    done(hosts_[host].position, hosts_[host].names);
  }
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

void NameStage::Poll(ResultBook& book, std::chrono::milliseconds timeout) {
  for (auto& [position, name] : resolver_.Take(timeout)) {
    if (name.empty() && queries_ != nullptr) {
      Ask(book, position);
    } else {
      book.FileNames(position, {.dns = std::move(name)});
    }
  }
  if (queries_ != nullptr) {
    queries_->Take([&book](std::size_t position, const ExtraNames& names) {
      book.FileNames(position, names);
    });
  }
}

}  // namespace hostsweep::controller
