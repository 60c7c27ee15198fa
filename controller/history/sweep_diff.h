// Which host of an earlier sweep each host found now is, and what changed,
// by the identity rule of controller/model/seen_host.h.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "controller/base/results.h"
#include "controller/model/seen_host.h"

namespace hostsweep::controller {

// What a sweep looked at: a host found earlier and not now is gone only
// where it did.
class SweepScope {
 public:
  // The IPv4 addresses swept; `ipv6`: the swept links' IPv6 nodes were asked
  // too (--ipv6), so a device heard over IPv6 alone would have answered.
  SweepScope(std::vector<Address> addresses, bool ipv6);
  [[nodiscard]] bool Covers(const SeenHost& host) const;

 private:
  std::vector<Address> addresses_;  // sorted
  bool ipv6_;
};

struct HostMatch {
  Change change = Change::kNew;
  std::optional<std::size_t> earlier{};  // the earlier host it is, when not new
};

struct SweepComparison {
  std::vector<HostMatch> current;      // one per current host, in order
  std::vector<std::size_t> unmatched;  // earlier hosts no current host is
};

// Matches in rounds, each taking only hosts no earlier round has matched:
//  1. the same device MAC (DeviceMac): the same device, moved or renamed if
//     its address or name differs;
//  2. the same address with another device MAC, both seen on the link:
//     mac-changed (a replaced device, or a spoof);
//  3. the same address and name: the same host;
//  4. the same name at another address, unless both MACs name devices: moved;
//  5. the same address under another name, likewise: renamed.
// Within a round, the first earlier host that fits is taken. A host matched
// unchanged whose type or model differs from the earlier one's, where both
// sweeps know it, is retyped; one a sweep heard nothing from about itself (a
// lost answer, a device asleep) has not changed what it is.
// A NetBIOS unit ID is the host's own word and may name another of its
// adapters: it matches an equal MAC, but never makes a host mac-changed.
// The rest are new; earlier hosts left over are for the caller to call gone
// (where the sweep's scope covers them).
SweepComparison CompareSweeps(const std::vector<SeenHost>& earlier,
                              const std::vector<SeenHost>& current);

// Which of the hosts that were away each arriving host is, by the same rounds
// but the second: a device that took an away host's address is another
// device, not that host come back.
SweepComparison FindReturningHosts(const std::vector<SeenHost>& away,
                                   const std::vector<SeenHost>& arriving);

// The change of a current host as rows show it, with what it was before.
RowChange RowChangeOf(const HostMatch& match, const std::vector<SeenHost>& earlier);

}  // namespace hostsweep::controller
