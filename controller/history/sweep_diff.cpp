#include "controller/history/sweep_diff.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace hostsweep::controller {
namespace {

bool FromLink(const SeenHost& host) {
  return host.macSource == MacSource::kNeighbour || host.macSource == MacSource::kArp ||
         host.macSource == MacSource::kInterface;
}

std::optional<HostMatch> MatchAs(Change change, std::optional<std::size_t> earlier) {
  return earlier ? std::optional(HostMatch{.change = change, .earlier = earlier}) : std::nullopt;
}

// Earlier hosts under one key each, in their order; a key hands out its
// first host not yet taken, so that a round costs one look-up per host
// however many earlier hosts there are.
class Index {
 public:
  void Add(const std::string& key, std::size_t earlier) { queues_[key].hosts.push_back(earlier); }
  std::optional<std::size_t> Take(const std::string& key, std::vector<bool>& taken) {
    const auto found = queues_.find(key);
    if (found == queues_.end()) {
      return std::nullopt;
    }
    auto& [hosts, next] = found->second;
    while (next < hosts.size() && taken[hosts[next]]) {
      ++next;
    }
    if (next == hosts.size()) {
      return std::nullopt;
    }
    taken[hosts[next]] = true;
    return hosts[next++];
  }

 private:
  struct Queue {
    std::vector<std::size_t> hosts;
    std::size_t next = 0;
  };
  std::unordered_map<std::string, Queue> queues_;
};

// The earlier hosts by what each round looks for. Each round takes only what
// no earlier one matched, which spares the later ones a check: after round 1
// no earlier host left shares a device's MAC with a current host left, and
// after round 3 none shares both its address and its name. Only the keys the
// current hosts look up are indexed: a watch's few arrivals are matched with
// its many hosts away without filing all of them.
class EarlierHosts {
 public:
  EarlierHosts(const std::vector<SeenHost>& earlier, const std::vector<SeenHost>& current)
      : earlier_(earlier), taken_(earlier.size(), false) {
    for (const SeenHost& host : current) {
      wanted_.insert({AddressText(host), AddressAndName(host), host.name});
      if (const auto mac = DeviceMac(host)) {
        wanted_.insert(FormatMac(*mac));
      }
    }
    for (std::size_t e = 0; e < earlier.size(); ++e) {
      const SeenHost& host = earlier[e];
      const std::string address = AddressText(host);
      const auto mac = DeviceMac(host);
      const bool device = mac.has_value();
      if (device) {
        File(byMac_, FormatMac(*mac), e);
      }
      if (device && FromLink(host)) {
        File(linkDevicesByAddress_, address, e);
      }
      File(byAddressAndName_, AddressAndName(host), e);
      File(byAddress_, address, e);
      if (!device) {
        File(othersByAddress_, address, e);
      }
      if (!host.name.empty()) {
        File(byName_, host.name, e);
      }
      if (!host.name.empty() && !device) {
        File(othersByName_, host.name, e);
      }
    }
  }

  std::optional<HostMatch> SameDevice(const SeenHost& current) {
    const auto mac = DeviceMac(current);
    const auto earlier = mac ? byMac_.Take(FormatMac(*mac), taken_) : std::nullopt;
    if (!earlier) {
      return std::nullopt;
    }
    const SeenHost& before = earlier_[*earlier];
    if (AddressText(before) != AddressText(current)) {
      return MatchAs(Change::kMoved, earlier);
    }
    return MatchAs(before.name == current.name ? Change::kNone : Change::kRenamed, earlier);
  }

  std::optional<HostMatch> ReplacedDevice(const SeenHost& current) {
    const bool linkDevice = DeviceMac(current).has_value() && FromLink(current);
    return MatchAs(
        Change::kMacChanged,
        linkDevice ? linkDevicesByAddress_.Take(AddressText(current), taken_) : std::nullopt);
  }

  std::optional<HostMatch> SameAddressAndName(const SeenHost& current) {
    return MatchAs(Change::kNone, byAddressAndName_.Take(AddressAndName(current), taken_));
  }

  // Rounds 4 and 5: a device's MAC rules out every other device.
  std::optional<HostMatch> SameNameElsewhere(const SeenHost& current) {
    Index& candidates = DeviceMac(current).has_value() ? othersByName_ : byName_;
    return MatchAs(Change::kMoved,
                   current.name.empty() ? std::nullopt : candidates.Take(current.name, taken_));
  }

  std::optional<HostMatch> SameAddressOtherName(const SeenHost& current) {
    Index& candidates = DeviceMac(current).has_value() ? othersByAddress_ : byAddress_;
    return MatchAs(Change::kRenamed, candidates.Take(AddressText(current), taken_));
  }

  [[nodiscard]] std::vector<std::size_t> Unmatched() const {
    std::vector<std::size_t> unmatched;
    for (std::size_t e = 0; e < taken_.size(); ++e) {
      if (!taken_[e]) {
        unmatched.push_back(e);
      }
    }
    return unmatched;
  }

 private:
  // An address's text holds no line break.
  static std::string AddressAndName(const SeenHost& host) {
    return AddressText(host) + '\n' + host.name;
  }

  void File(Index& index, const std::string& key, std::size_t earlier) {
    if (wanted_.contains(key)) {
      index.Add(key, earlier);
    }
  }

  const std::vector<SeenHost>& earlier_;
  std::vector<bool> taken_;
  std::unordered_set<std::string> wanted_;
  Index byMac_;                 // devices
  Index linkDevicesByAddress_;  // devices seen on the link
  Index byAddressAndName_;
  Index byAddress_;
  Index othersByAddress_;  // no device's MAC
  Index byName_;
  Index othersByName_;
};

using Round = std::optional<HostMatch> (EarlierHosts::*)(const SeenHost&);

bool Differs(const std::string& before, const std::string& now) {
  return !before.empty() && !now.empty() && before != now;
}

bool Retyped(const SeenHost& before, const SeenHost& now) {
  return Differs(before.type, now.type) || Differs(before.model, now.model);
}

SweepComparison MatchInRounds(const std::vector<SeenHost>& earlier,
                              const std::vector<SeenHost>& current,
                              const std::vector<Round>& rounds) {
  EarlierHosts hosts(earlier, current);
  std::vector<HostMatch> matches(current.size());
  for (const Round round : rounds) {
    for (std::size_t c = 0; c < current.size(); ++c) {
      if (!matches[c].earlier) {
        matches[c] = (hosts.*round)(current[c]).value_or(HostMatch{});
      }
    }
  }
  for (std::size_t c = 0; c < current.size(); ++c) {
    HostMatch& match = matches[c];
    if (match.change == Change::kNone && match.earlier &&
        Retyped(earlier[*match.earlier], current[c])) {
      match.change = Change::kRetyped;
    }
  }
  return {.current = std::move(matches), .unmatched = hosts.Unmatched()};
}

}  // namespace

SweepScope::SweepScope(std::vector<Address> addresses, bool ipv6)
    : addresses_(std::move(addresses)), ipv6_(ipv6) {
  std::sort(addresses_.begin(), addresses_.end());
}

bool SweepScope::Covers(const SeenHost& host) const {
  return host.ipv6.empty() ? std::binary_search(addresses_.begin(), addresses_.end(), host.address)
                           : ipv6_;
}

SweepComparison CompareSweeps(const std::vector<SeenHost>& earlier,
                              const std::vector<SeenHost>& current) {
  return MatchInRounds(
      earlier, current,
      {&EarlierHosts::SameDevice, &EarlierHosts::ReplacedDevice, &EarlierHosts::SameAddressAndName,
       &EarlierHosts::SameNameElsewhere, &EarlierHosts::SameAddressOtherName});
}

SweepComparison FindReturningHosts(const std::vector<SeenHost>& away,
                                   const std::vector<SeenHost>& arriving) {
  return MatchInRounds(away, arriving,
                       {&EarlierHosts::SameDevice, &EarlierHosts::SameAddressAndName,
                        &EarlierHosts::SameNameElsewhere, &EarlierHosts::SameAddressOtherName});
}

RowChange RowChangeOf(const HostMatch& match, const std::vector<SeenHost>& earlier) {
  RowChange row{.change = match.change, .previous = {}};
  if (!match.earlier) {
    return row;
  }
  const SeenHost& before = earlier[*match.earlier];
  switch (match.change) {
    case Change::kMoved:
      row.previous = AddressText(before);
      break;
    case Change::kRenamed:
      row.previous = before.name;
      break;
    case Change::kMacChanged:
      row.previous = before.mac ? FormatMac(*before.mac) : std::string{};
      break;
    case Change::kRetyped:
      row.previous = DeviceText(before.type, before.model);
      break;
    default:
      break;
  }
  return row;
}

}  // namespace hostsweep::controller
