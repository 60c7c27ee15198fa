// The neighbour table over rtnetlink: one RTM_GETNEIGH dump of one family's entries.
#include "controller/system/posix/neighbour_table.h"

#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "controller/base/errors.h"
#include "controller/system/neighbour_table.h"
#include "controller/system/posix/route_dump.h"

namespace hostsweep::controller {
namespace {

// Resolved entries; INCOMPLETE and FAILED ones have no usable address.
constexpr unsigned kUsableStates =
    NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT;
constexpr long kMillisecondsPerSecond = 1000;
// Entries a timer holds: being resolved, or counted reachable until it fires.
constexpr unsigned kTimedStates = NUD_INCOMPLETE | NUD_REACHABLE | NUD_DELAY | NUD_PROBE;
// Entries never reclaimed, which the table's limit does not count either.
constexpr unsigned kExemptStates = NUD_PERMANENT | NUD_NOARP;
constexpr std::chrono::seconds kRecentlyUpdated{5};

// What every family's entry holds: its destination as the kernel gives it.
struct RawNeighbour {
  std::vector<unsigned char> destination{};
  MacAddress mac{};
  int interfaceIndex = 0;
  bool reachable = false;
  std::optional<std::chrono::milliseconds> sinceConfirmed{};
};

// A usable entry of `family` with a destination and an Ethernet address.
std::optional<RawNeighbour> RawNeighbourOf(const nlmsghdr& header, unsigned char family) {
  if (header.nlmsg_type != RTM_NEWNEIGH || header.nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg))) {
    return std::nullopt;
  }
  const auto* message = static_cast<const ndmsg*>(NLMSG_DATA(&header));
  if (message->ndm_family != family || (message->ndm_state & kUsableStates) == 0) {
    return std::nullopt;
  }
  RawNeighbour entry{.interfaceIndex = message->ndm_ifindex,
                     .reachable = (message->ndm_state & NUD_REACHABLE) != 0};
  bool haveMac = false;
  ForEachAttribute(header, sizeof(ndmsg),
                   [&](unsigned short type, const unsigned char* data, std::size_t size) {
                     if (type == NDA_DST) {
                       entry.destination.assign(data, data + size);
                     } else if (type == NDA_LLADDR && size == entry.mac.size()) {
                       std::memcpy(entry.mac.data(), data, size);
                       haveMac = true;
                     } else if (type == NDA_CACHEINFO && size >= sizeof(nda_cacheinfo)) {
                       nda_cacheinfo info{};
                       std::memcpy(&info, data, sizeof(info));
                       // Whole clock ticks, cut: the entry was confirmed less
                       // than one tick more ago than they say.
                       entry.sinceConfirmed = NeighbourAgeGrain() * (info.ndm_confirmed + 1);
                     }
                   });
  if (entry.destination.empty() || !haveMac) {
    return std::nullopt;
  }
  return entry;
}

// The address of an IPv4 entry in any state.
std::optional<Address> Ipv4EntryAddress(const nlmsghdr& header) {
  if (header.nlmsg_type != RTM_NEWNEIGH || header.nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg)) ||
      static_cast<const ndmsg*>(NLMSG_DATA(&header))->ndm_family != AF_INET) {
    return std::nullopt;
  }
  std::optional<Address> address;
  ForEachAttribute(header, sizeof(ndmsg),
                   [&address](unsigned short type, const unsigned char* data, std::size_t size) {
                     if (type == NDA_DST) {
                       address = Ipv4Of(data, size);
                     }
                   });
  return address;
}

}  // namespace

std::optional<NeighbourEntry> NeighbourEntryOf(const nlmsghdr& header) {
  const auto raw = RawNeighbourOf(header, AF_INET);
  const auto address =
      raw ? Ipv4Of(raw->destination.data(), raw->destination.size()) : std::nullopt;
  if (!address) {
    return std::nullopt;
  }
  return NeighbourEntry{.address = *address,
                        .mac = raw->mac,
                        .reachable = raw->reachable,
                        .sinceConfirmed = raw->sinceConfirmed};
}

std::optional<Ipv6NeighbourEntry> Ipv6NeighbourEntryOf(const nlmsghdr& header) {
  const auto raw = RawNeighbourOf(header, AF_INET6);
  Ipv6NeighbourEntry entry;
  if (!raw || raw->destination.size() != entry.address.size()) {
    return std::nullopt;
  }
  std::memcpy(entry.address.data(), raw->destination.data(), entry.address.size());
  entry.interfaceIndex = raw->interfaceIndex;
  entry.mac = raw->mac;
  return entry;
}

bool HoldsTableEntry(const nlmsghdr& header) {
  if (header.nlmsg_type != RTM_NEWNEIGH || header.nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg))) {
    return false;
  }
  const auto* message = static_cast<const ndmsg*>(NLMSG_DATA(&header));
  if (message->ndm_family != AF_INET || (message->ndm_state & kExemptStates) != 0 ||
      (message->ndm_state & NUD_FAILED) != 0) {
    return false;
  }
  if ((message->ndm_state & kTimedStates) != 0) {
    return true;
  }
  bool recent = false;
  ForEachAttribute(header, sizeof(ndmsg),
                   [&recent](unsigned short type, const unsigned char* data, std::size_t size) {
                     if (type == NDA_CACHEINFO && size >= sizeof(nda_cacheinfo)) {
                       nda_cacheinfo info{};
                       std::memcpy(&info, data, sizeof(info));
                       recent = NeighbourAgeGrain() * info.ndm_updated < kRecentlyUpdated;
                     }
                   });
  return recent;
}

std::optional<std::uint64_t> TableOverflowsOf(const nlmsghdr& header) {
  if (header.nlmsg_type != RTM_NEWNEIGHTBL || header.nlmsg_len < NLMSG_LENGTH(sizeof(ndtmsg)) ||
      static_cast<const ndtmsg*>(NLMSG_DATA(&header))->ndtm_family != AF_INET) {
    return std::nullopt;
  }
  std::optional<std::uint64_t> overflows;
  ForEachAttribute(header, sizeof(ndtmsg),
                   [&overflows](unsigned short type, const unsigned char* data, std::size_t size) {
                     if (type == NDTA_STATS && size >= sizeof(ndt_stats)) {
                       ndt_stats stats{};
                       std::memcpy(&stats, data, sizeof(stats));
                       overflows = stats.ndts_table_fulls;
                     }
                   });
  return overflows;
}

std::optional<std::uint64_t> ReadNeighbourTableOverflows() {
  std::optional<std::uint64_t> overflows;
  try {
    // The table's own message comes first; those of its interfaces carry no statistics.
    DumpRoute(RTM_GETNEIGHTBL, "the neighbour table's statistics", [&overflows](const nlmsghdr& h) {
      if (!overflows) {
        overflows = TableOverflowsOf(h);
      }
    });
  } catch (const SystemError&) {
    return std::nullopt;  // verdicts stand as the echo requests gave them
  }
  return overflows;
}

NeighbourTableLoad ReadNeighbourTableLoad() {
  NeighbourTableLoad load;
  try {
    DumpRoute(RTM_GETNEIGH, "the neighbour table", [&load](const nlmsghdr& header) {
      load.held += HoldsTableEntry(header) ? 1 : 0;
      if (const auto address = Ipv4EntryAddress(header)) {
        load.addresses.push_back(*address);
      }
    });
  } catch (const SystemError&) {
    return {};  // a sweep that cannot read the table goes on as before
  }
  std::sort(load.addresses.begin(), load.addresses.end());
  load.overflows = ReadNeighbourTableOverflows();
  return load;
}

std::chrono::milliseconds NeighbourAgeGrain() {
  // Entry ages are told in clock ticks.
  static const long ticksPerSecond = sysconf(_SC_CLK_TCK);
  return std::chrono::milliseconds(kMillisecondsPerSecond / ticksPerSecond);
}

std::vector<Ipv6NeighbourEntry> ReadIpv6NeighbourTable() {
  std::vector<Ipv6NeighbourEntry> entries;
  DumpRoute(
      RTM_GETNEIGH, "the IPv6 neighbour table",
      [&entries](const nlmsghdr& header) {
        if (auto entry = Ipv6NeighbourEntryOf(header)) {
          entries.push_back(*entry);
        }
      },
      AF_INET6);
  return entries;
}

std::vector<NeighbourEntry> ReadNeighbourTable() {
  std::vector<NeighbourEntry> entries;
  DumpRoute(RTM_GETNEIGH, "the neighbour table", [&entries](const nlmsghdr& header) {
    if (auto entry = NeighbourEntryOf(header)) {
      entries.push_back(*entry);
    }
  });
  return entries;
}

}  // namespace hostsweep::controller
