#include "controller/devices/device_stage.h"

#include <algorithm>
#include <map>
#include <string_view>
#include <utility>

namespace hostsweep::controller {

std::vector<Announcement> NetbiosAnnouncements(const std::vector<NetbiosName>& table) {
  constexpr std::string_view kHex = "0123456789ABCDEF";
  std::vector<Announcement> said;
  said.reserve(table.size());
  for (const auto& name : table) {
    said.push_back({name.group ? "netbios:group" : "netbios:suffix",
                    {kHex[name.suffix >> 4], kHex[name.suffix & 0xF]}});
  }
  return said;
}

GivenNames GivenNamesOf(const std::vector<Announcement>& said) {
  GivenNames given;
  std::map<std::string_view, int> instances;
  int mostShared = 0;
  for (const auto& [key, value] : said) {
    if (key == "mdns:host" && given.mdnsHost.empty()) {
      given.mdnsHost = value;
    } else if (key == "ssdp:friendlyName" && given.upnp.empty()) {
      given.upnp = value;
    } else if (key == "mdns:instance" && ++instances[value] > mostShared) {
      mostShared = instances[value];
      given.dnsSd = value;
    }
  }
  return given;
}

void DeviceStage::Heard(const ResultBook& book, const std::vector<std::size_t>& heard) {
  for (const std::size_t position : heard) {
    const Address address = book.Results()[position].address;
    auto& pending = Ask(position, address);
    // Its worker may name it: the table is then asked here, and used then.
    if (nodeStatus_ != nullptr && !pending.nodeStatusAsked) {
      pending.nodeStatusAsked = true;
      nodeStatus_->Ask(position, address, /*netbiosOnly=*/true);
    }
  }
}

DeviceStage::Pending& DeviceStage::Ask(std::size_t position, Address address) {
  const auto [entry, fresh] = pending_.try_emplace(position);
  if (fresh) {
    discovery_.Ask(position, address);
    if (upnp_ != nullptr) {
      upnp_->Ask(position, address);
    } else {
      entry->second.upnp.emplace();
    }
  }
  return entry->second;
}

void DeviceStage::Enrich(ResultBook& book, const std::vector<std::size_t>& finished) {
  for (const std::size_t position : finished) {
    const HostResult& result = book.Results()[position];
    // On a directly connected link (its MAC known from there): a host
    // behind a router is asked nothing more than today; one heard early
    // whose probes found otherwise has its answers dropped.
    const State state = StateOf(result);
    if ((state != State::kAlive && state != State::kSilent) || !result.link || !result.link->mac) {
      pending_.erase(position);
      continue;
    }
    book.AwaitDevice(position);
    auto& pending = Ask(position, result.address);
    pending.awaited = true;
    // Named by its worker, so the name stage asked it nothing.
    if (nodeStatus_ != nullptr && !book.AwaitsNames(position) && !result.names) {
      pending.nodeStatusUsed = true;
      if (!pending.nodeStatusAsked) {
        pending.nodeStatusAsked = true;
        nodeStatus_->Ask(position, result.address, /*netbiosOnly=*/true);
      }
    }
  }
}

void DeviceStage::Poll(ResultBook& book, std::chrono::milliseconds /*timeout*/) {
  // A host whose answers were dropped is no longer pending.
  const auto pending = [this](std::size_t position) {
    const auto found = pending_.find(position);
    return found == pending_.end() ? nullptr : &found->second;
  };
  discovery_.Take([&pending](std::size_t position, ServiceFindings findings) {
    if (auto* host = pending(position)) {
      host->mdns = std::move(findings);
    }
  });
  if (nodeStatus_ != nullptr) {
    nodeStatus_->Take([&pending](std::size_t position, const ExtraNames& names) {
      if (auto* host = pending(position)) {
        host->netbios = names.table;
      }
    });
  }
  if (upnp_ != nullptr) {
    upnp_->Take([&pending](std::size_t position, std::vector<Announcement> said) {
      if (auto* host = pending(position)) {
        host->upnp = std::move(said);
      }
    });
  }
  FileAnswered(book);
}

void DeviceStage::FileAnswered(ResultBook& book) {
  std::erase_if(pending_, [&](auto& entry) {
    auto& [position, pending] = entry;
    const auto& names = book.Results()[position].names;
    const std::vector<NetbiosName>* table = pending.nodeStatusUsed
                                                ? (pending.netbios ? &*pending.netbios : nullptr)
                                            : names ? &names->table
                                                    : nullptr;
    const bool tableComing =
        (pending.nodeStatusUsed && !pending.netbios) || book.AwaitsNames(position);
    if (!pending.awaited || !pending.mdns || !pending.upnp || tableComing) {
      return false;
    }
    auto said = std::move(pending.mdns->said);
    said.insert(said.end(), pending.upnp->begin(), pending.upnp->end());
    if (table != nullptr) {
      const auto netbios = NetbiosAnnouncements(*table);
      said.insert(said.end(), netbios.begin(), netbios.end());
    }
    DeviceFacts facts = rules_.Apply(said);
    facts.services = std::move(pending.mdns->services);
    book.FileDevice(position, facts, GivenNamesOf(said));
    return true;
  });
}

}  // namespace hostsweep::controller
