#include "controller/link/link_layer.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "controller/base/errors.h"

namespace hostsweep::controller {

LinkFacts LinkFactsOf(const NeighbourEntry* entry, std::chrono::milliseconds sweepAge) {
  // Some systems list an entry still resolving with an all-zero address.
  if (entry == nullptr || IsPlaceholderMac(entry->mac)) {
    return {};
  }
  // Only what this sweep saw counts: an entry confirmed before it (still
  // reachable or stale) would make the verdict depend on earlier traffic.
  // Where the system does not tell when it last heard from the host, its
  // reachable state is all there is to go by.
  return {.mac = entry->mac,
          .heardDuringSweep =
              entry->sinceConfirmed ? *entry->sinceConfirmed <= sweepAge : entry->reachable};
}

LinkFacts ArpLinkFactsOf(const MacAddress& answer, State echo, bool tableOverflowed,
                         const NeighbourEntry* entry) {
  return {.mac = answer,
          .heardDuringSweep = true,
          .fromArp = true,
          .noRoomForEcho = echo == State::kDead && tableOverflowed && entry == nullptr};
}

LinkLayerStage::LinkLayerStage(TableReader readTable, std::ostream& diagnostics, bool verbose,
                               const ArpPass* linkPass, Clock::time_point sweepBegan,
                               OwnMacs ownMacs, OverflowReader readOverflows)
    : readTable_(std::move(readTable)),
      linkPass_(linkPass),
      diagnostics_(diagnostics),
      verbose_(verbose),
      sweepBegan_(sweepBegan),
      ownMacs_(std::move(ownMacs)),
      readOverflows_(std::move(readOverflows)),
      overflowsBefore_(readOverflows_ ? readOverflows_() : std::nullopt) {}

bool LinkLayerStage::TableOverflowed() const {
  if (!overflowsBefore_) {
    return false;
  }
  const auto now = readOverflows_();
  return now && *now > *overflowsBefore_;
}

void LinkLayerStage::Enrich(ResultBook& book, const std::vector<std::size_t>& finished) {
  // Only a worker's verdict is refined here; the link pass's dead stay dead.
  const auto probed = [&book](std::size_t position) {
    const ProbeFacts& probe = book.Results()[position].probe;
    // An address that never answered ARP was never probed: it stays dead.
    return (probe.state == State::kAlive || probe.state == State::kDead) && !probe.noArpReply;
  };
  const auto answeredDead = [&book, this](std::size_t position) {
    const HostResult& result = book.Results()[position];
    return result.probe.state == State::kDead && !result.probe.noArpReply &&
           ArpAnswerOf(result.address) != nullptr;
  };
  if (std::none_of(finished.begin(), finished.end(), probed)) {
    return;
  }
  // The echo requests that found the table full were dropped unsent: an
  // answerer without a resolved entry then had none to carry them. The table
  // is shared, so a sweep that holds little of it can still find it full.
  const bool overflowed =
      std::any_of(finished.begin(), finished.end(), answeredDead) && TableOverflowed();
  const auto needsTable = [&](std::size_t position) {
    return probed(position) && (ArpAnswerOf(book.Results()[position].address) == nullptr ||
                                (overflowed && answeredDead(position)));
  };
  std::unordered_map<Address, NeighbourEntry> table;
  if (std::any_of(finished.begin(), finished.end(), needsTable)) {
    for (const auto& entry : ReadTable()) {
      table.emplace(entry.address, entry);
    }
  }
  const auto age =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sweepBegan_);
  for (const std::size_t position : finished) {
    if (!probed(position)) {
      continue;
    }
    const HostResult& result = book.Results()[position];
    LinkFacts facts;
    if (const MacAddress* answer = ArpAnswerOf(result.address)) {
      const auto entry = table.find(result.address);
      facts = ArpLinkFactsOf(*answer, result.probe.state, overflowed,
                             entry == table.end() ? nullptr : &entry->second);
      book.AwaitMacSharing(position);
      awaitingPassEnd_.push_back(position);
    } else if (const auto own = ownMacs_.find(result.address); own != ownMacs_.end()) {
      facts = {.mac = own->second, .ownInterface = true};
    } else {
      const auto entry = table.find(result.address);
      facts = LinkFactsOf(entry == table.end() ? nullptr : &entry->second, age);
    }
    book.FileLink(position, facts);
    const auto netbios = ParseMac(result.probe.netbiosMac);
    if (verbose_ && facts.mac && netbios && !IsPlaceholderMac(*netbios) && *netbios != *facts.mac) {
      diagnostics_ << "hostsweep: " << FormatAddress(result.address) << ": NetBIOS gave "
                   << FormatMac(*netbios) << ", " << (facts.fromArp ? "ARP" : "the neighbour table")
                   << " " << FormatMac(*facts.mac) << "; showing the latter\n";
    }
  }
  Poll(book, std::chrono::milliseconds{0});
}

// Waits for nothing itself: the sweep's loop polls the link pass meanwhile.
void LinkLayerStage::Poll(ResultBook& book, std::chrono::milliseconds /*timeout*/) {
  const auto* shared = awaitingPassEnd_.empty() ? nullptr : linkPass_->SharedMacs();
  if (shared == nullptr) {
    return;
  }
  for (const std::size_t position : awaitingPassEnd_) {
    const auto found = shared->find(*book.Results()[position].link->mac);
    book.FileMacSharing(position,
                        found == shared->end() ? std::nullopt : std::optional(found->second));
  }
  awaitingPassEnd_.clear();
}

const MacAddress* LinkLayerStage::ArpAnswerOf(Address address) const {
  return linkPass_ != nullptr ? linkPass_->AnswerOf(address) : nullptr;
}

std::vector<NeighbourEntry> LinkLayerStage::ReadTable() {
  if (tableFailed_) {
    return {};
  }
  try {
    return readTable_();
  } catch (const SystemError& error) {
    tableFailed_ = true;
    diagnostics_ << "hostsweep: warning: " << error.what()
                 << "; MAC addresses come from NetBIOS alone\n";
    return {};
  }
}

}  // namespace hostsweep::controller
