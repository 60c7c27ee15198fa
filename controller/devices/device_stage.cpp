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

void DeviceStage::Enrich(ResultBook& book, const std::vector<std::size_t>& finished) {
  for (const std::size_t position : finished) {
    const HostResult& result = book.Results()[position];
    // On a directly connected link (its MAC known from there): a host
    // behind a router is asked nothing more than today.
    const State state = StateOf(result);
    if ((state != State::kAlive && state != State::kSilent) || !result.link || !result.link->mac) {
      continue;
    }
    book.AwaitDevice(position);
    auto& pending = pending_[position];
    discovery_.Ask(position, result.address);
    if (upnp_ != nullptr) {
      upnp_->Ask(position, result.address);
    } else {
      pending.upnp.emplace();
    }
    // Named by its worker, so the name stage asked it nothing.
    if (nodeStatus_ != nullptr && !book.AwaitsNames(position) && !result.names) {
      pending.nodeStatusAsked = true;
      nodeStatus_->Ask(position, result.address, /*netbiosOnly=*/true);
    }
  }
}

void DeviceStage::Poll(ResultBook& book, std::chrono::milliseconds /*timeout*/) {
  discovery_.Take([this](std::size_t position, ServiceFindings findings) {
    pending_[position].mdns = std::move(findings);
  });
  if (nodeStatus_ != nullptr) {
    nodeStatus_->Take([this](std::size_t position, const ExtraNames& names) {
      pending_[position].netbios = names.table;
    });
  }
  if (upnp_ != nullptr) {
    upnp_->Take([this](std::size_t position, std::vector<Announcement> said) {
      pending_[position].upnp = std::move(said);
    });
  }
  FileAnswered(book);
}

void DeviceStage::FileAnswered(ResultBook& book) {
  std::erase_if(pending_, [&](auto& entry) {
    auto& [position, pending] = entry;
    const auto& names = book.Results()[position].names;
    const std::vector<NetbiosName>* table = pending.netbios ? &*pending.netbios
                                            : names         ? &names->table
                                                            : nullptr;
    const bool tableComing =
        (pending.nodeStatusAsked && !pending.netbios) || book.AwaitsNames(position);
    if (!pending.mdns || !pending.upnp || tableComing) {
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
