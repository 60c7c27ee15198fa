// The neighbour table over rtnetlink: one RTM_GETNEIGH dump of the IPv4 entries.
#include "controller/posix/neighbour_table.h"

#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "controller/errors.h"
#include "controller/link_layer.h"
#include "controller/posix/route_dump.h"

namespace hostsweep::controller {
namespace {

// Resolved entries; INCOMPLETE and FAILED ones have no usable address.
constexpr unsigned kUsableStates =
    NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT;
constexpr long kMillisecondsPerSecond = 1000;

}  // namespace

std::optional<NeighbourEntry> NeighbourEntryOf(const nlmsghdr& header) {
  if (header.nlmsg_type != RTM_NEWNEIGH || header.nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg))) {
    return std::nullopt;
  }
  const auto* message = static_cast<const ndmsg*>(NLMSG_DATA(&header));
  if (message->ndm_family != AF_INET || (message->ndm_state & kUsableStates) == 0) {
    return std::nullopt;
  }
  NeighbourEntry entry;
  entry.reachable = (message->ndm_state & NUD_REACHABLE) != 0;
  bool haveAddress = false;
  bool haveMac = false;
  ForEachAttribute(header, sizeof(ndmsg),
                   [&](unsigned short type, const unsigned char* data, std::size_t size) {
                     if (const auto address = Ipv4Of(data, size); type == NDA_DST && address) {
                       entry.address = *address;
                       haveAddress = true;
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
  if (!haveAddress || !haveMac) {
    return std::nullopt;
  }
  return entry;
}

std::chrono::milliseconds NeighbourAgeGrain() {
  // Entry ages are told in clock ticks.
  static const long ticksPerSecond = sysconf(_SC_CLK_TCK);
  return std::chrono::milliseconds(kMillisecondsPerSecond / ticksPerSecond);
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
