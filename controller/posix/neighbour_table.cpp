// The neighbour table over rtnetlink: one RTM_GETNEIGH dump of the IPv4 entries.
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "controller/link_layer.h"
#include "controller/posix/route_dump.h"

namespace hostsweep::controller {
namespace {

// Resolved entries; INCOMPLETE and FAILED ones have no usable address.
constexpr unsigned kUsableStates =
    NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT;
constexpr long kMillisecondsPerSecond = 1000;

// One RTM_NEWNEIGH message, if it is a usable IPv4 entry with an Ethernet address.
std::optional<NeighbourEntry> ParseEntry(const nlmsghdr* header) {
  const auto* message = static_cast<const ndmsg*>(NLMSG_DATA(header));
  if (message->ndm_family != AF_INET || (message->ndm_state & kUsableStates) == 0) {
    return std::nullopt;
  }
  NeighbourEntry entry;
  entry.reachable = (message->ndm_state & NUD_REACHABLE) != 0;
  bool haveAddress = false;
  bool haveMac = false;
  ForEachAttribute(*header, sizeof(ndmsg),
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
                       // Ages are in clock ticks.
                       static const long ticksPerSecond = sysconf(_SC_CLK_TCK);
                       entry.sinceConfirmed =
                           std::chrono::milliseconds(static_cast<long>(info.ndm_confirmed) *
                                                     kMillisecondsPerSecond / ticksPerSecond);
                     }
                   });
  if (!haveAddress || !haveMac) {
    return std::nullopt;
  }
  return entry;
}

}  // namespace

std::vector<NeighbourEntry> ReadNeighbourTable() {
  std::vector<NeighbourEntry> entries;
  DumpRoute(RTM_GETNEIGH, "the neighbour table", [&entries](const nlmsghdr& header) {
    if (header.nlmsg_type != RTM_NEWNEIGH) {
      return;
    }
    if (auto entry = ParseEntry(&header)) {
      entries.push_back(*entry);
    }
  });
  return entries;
}

}  // namespace hostsweep::controller
