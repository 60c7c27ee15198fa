#include "controller/history/link_conflicts.h"

#include <set>

namespace hostsweep::controller {

ConflictBook::ConflictBook(const std::vector<LinkConflict>& open) {
  for (const LinkConflict& conflict : open) {
    open_.insert_or_assign(ConflictKey(conflict), conflict);
  }
}

ConflictChanges ConflictBook::Heard(const LinkConflict& conflict) {
  ConflictChanges changes;
  if (open_.try_emplace(ConflictKey(conflict), conflict).second) {
    changes.started.push_back(conflict);
  }
  return changes;
}

std::vector<LinkConflict> ConflictBook::Open() const {
  std::vector<LinkConflict> open;
  for (const auto& [key, conflict] : open_) {
    open.push_back(conflict);
  }
  return open;
}

ConflictChanges ConflictBook::Round(const std::vector<LinkConflict>& heard) {
  ConflictChanges changes;
  std::set<std::string> now;
  for (const LinkConflict& conflict : heard) {
    const std::string key = ConflictKey(conflict);
    now.insert(key);
    if (open_.insert_or_assign(key, conflict).second) {
      changes.started.push_back(conflict);
    }
  }
  std::erase_if(open_, [&](const auto& entry) {
    if (now.contains(entry.first)) {
      return false;
    }
    changes.ended.push_back(entry.second);
    return true;
  });
  return changes;
}

std::string ConflictWarning(const LinkConflict& conflict) {
  if (conflict.address && conflict.otherMac) {
    return "hostsweep: warning: " + FormatAddress(*conflict.address) +
           " answered ARP from two MAC addresses, " + FormatMac(conflict.mac) + " and " +
           FormatMac(*conflict.otherMac) +
           ": an address conflict or a spoofed reply; showing the first";
  }
  return "hostsweep: warning: " + FormatMac(conflict.mac) + " answered ARP for " +
         std::to_string(conflict.addresses) +
         " addresses: proxy ARP, one host holding them all and spoofed replies look alike";
}

std::string ConflictEndedLine(const LinkConflict& conflict) {
  if (conflict.address && conflict.otherMac) {
    return "hostsweep: " + FormatAddress(*conflict.address) +
           " answers ARP from one MAC address again";
  }
  return "hostsweep: " + FormatMac(conflict.mac) +
         " no longer answers ARP for more addresses than a host holds";
}

}  // namespace hostsweep::controller
