#include "controller/link_layer.h"

#include <algorithm>
#include <unordered_map>

#include "controller/errors.h"

namespace hostsweep::controller {

void ApplyLinkLayer(HostResult& result, const NeighbourEntry* entry,
                    std::chrono::milliseconds sweepAge) {
  // Some systems list an entry still resolving with an all-zero address.
  if (entry != nullptr && !IsPlaceholderMac(entry->mac)) {
    result.mac = FormatMac(entry->mac);
    result.macSource = MacSource::kNeighbour;
    // A stale entry from before the sweep says nothing about the host now.
    const bool heardDuringSweep =
        entry->reachable || (entry->sinceConfirmed && *entry->sinceConfirmed <= sweepAge);
    if (result.state == State::kDead && heardDuringSweep) {
      result.state = State::kSilent;
      result.evidence = Evidence::kNeighbourEntry;
    }
    return;
  }
  const auto netbios = ParseMac(result.netbiosMac);
  if (netbios && !IsPlaceholderMac(*netbios)) {
    result.mac = FormatMac(*netbios);
    result.macSource = MacSource::kNetbios;
  }
}

void ApplyArpAnswer(HostResult& result, const MacAddress& mac) {
  result.mac = FormatMac(mac);
  result.macSource = MacSource::kArp;
  if (result.state == State::kDead) {
    result.state = State::kSilent;
    result.evidence = Evidence::kArpReply;
  }
}

LinkLayerEnrichment::LinkLayerEnrichment(TableReader readTable, LazyVendorRegistry& vendors,
                                         std::ostream& diagnostics, bool verbose,
                                         ArpAnswers arpAnswers)
    : readTable_(std::move(readTable)),
      arpAnswers_(std::move(arpAnswers)),
      vendors_(vendors),
      diagnostics_(diagnostics),
      verbose_(verbose) {}

void LinkLayerEnrichment::Enrich(ResultBook& book, const std::vector<std::size_t>& finished) {
  // Only a worker's verdict is refined here; the link pass's dead stay dead.
  const auto probed = [&book](std::size_t position) {
    const HostResult& result = book.At(position);
    return (result.state == State::kAlive || result.state == State::kDead) &&
           result.evidence != Evidence::kNoArpReply;
  };
  const auto needsTable = [&](std::size_t position) {
    return probed(position) && ArpAnswerOf(book.At(position).address) == nullptr;
  };
  if (std::none_of(finished.begin(), finished.end(), probed)) {
    return;
  }
  std::unordered_map<Address, NeighbourEntry> table;
  if (std::any_of(finished.begin(), finished.end(), needsTable)) {
    for (const auto& entry : ReadTable()) {
      table.emplace(entry.address, entry);
    }
  }
  const auto age = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started_);
  for (const std::size_t position : finished) {
    if (!probed(position)) {
      continue;
    }
    HostResult& result = book.At(position);
    if (const MacAddress* answer = ArpAnswerOf(result.address)) {
      ApplyArpAnswer(result, *answer);
    } else {
      const auto entry = table.find(result.address);
      ApplyLinkLayer(result, entry == table.end() ? nullptr : &entry->second, age);
    }
    const auto mac = ParseMac(result.mac);
    if (!mac) {
      continue;
    }
    result.vendor = vendors_.VendorOf(*mac);
    const auto netbios = ParseMac(result.netbiosMac);
    if (verbose_ && netbios && !IsPlaceholderMac(*netbios) && *netbios != *mac) {
      const char* source = result.macSource == MacSource::kArp ? "ARP" : "the neighbour table";
      diagnostics_ << "hostsweep: " << FormatAddress(result.address) << ": NetBIOS gave "
                   << FormatMac(*netbios) << ", " << source << " " << result.mac
                   << "; showing the latter\n";
    }
  }
}

const MacAddress* LinkLayerEnrichment::ArpAnswerOf(Address address) const {
  return arpAnswers_ ? arpAnswers_(address) : nullptr;
}

std::vector<NeighbourEntry> LinkLayerEnrichment::ReadTable() {
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
