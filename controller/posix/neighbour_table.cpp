// The neighbour table over rtnetlink: one RTM_GETNEIGH dump of the IPv4 entries.
#include "controller/posix/neighbour_table.h"

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <thread>

#include "controller/errors.h"
#include "controller/link_layer.h"
#include "controller/posix/route_dump.h"

namespace hostsweep::controller {
namespace {

// Resolved entries; INCOMPLETE and FAILED ones have no usable address.
constexpr unsigned kUsableStates =
    NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT;
constexpr long kMillisecondsPerSecond = 1000;

std::chrono::milliseconds ClockTick() {
  static const long ticksPerSecond = sysconf(_SC_CLK_TCK);
  return std::chrono::milliseconds(kMillisecondsPerSecond / ticksPerSecond);
}

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
  entry.fixed = (message->ndm_state & NUD_PERMANENT) != 0;
  entry.interfaceIndex = message->ndm_ifindex;
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
                       entry.sinceConfirmed = ClockTick() * (info.ndm_confirmed + 1);
                     }
                   });
  if (!haveAddress || !haveMac) {
    return std::nullopt;
  }
  return entry;
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

namespace {
constexpr const char* kRecheck = "have the neighbour table check its entries";
}  // namespace

NeighbourRecheck::NeighbourRecheck() {
  try {
    socket_ = OpenRouteSocket(kRecheck).Release();
  } catch (const SystemError& error) {
    whyNot_ = error.what();
  }
}

NeighbourRecheck::~NeighbourRecheck() {
  if (socket_ >= 0) {
    close(socket_);
  }
}

void NeighbourRecheck::Run(const std::vector<NeighbourEntry>& entries) const {
  if (socket_ < 0) {
    throw SystemError(whyNot_);
  }
  // An entry's age is told in clock ticks: an answer within the tick the
  // sweep began in could not be told from a confirmation just before it, so
  // nothing goes out before the next.
  std::this_thread::sleep_for(ClockTick());
  for (const NeighbourEntry& entry : entries) {
    // The probe state, as the kernel enters it for an entry it doubts: a
    // unicast request at once, then the usual retries.
    struct {
      nlmsghdr header;
      ndmsg message;
      rtattr destination;
      std::uint32_t address;
    } request{};
    request.header.nlmsg_len = sizeof(request);
    request.header.nlmsg_type = RTM_NEWNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_REPLACE | NLM_F_ACK;
    request.message.ndm_family = AF_INET;
    request.message.ndm_ifindex = entry.interfaceIndex;
    request.message.ndm_state = NUD_PROBE;
    request.destination.rta_len = RTA_LENGTH(sizeof(request.address));
    request.destination.rta_type = NDA_DST;
    request.address = htonl(entry.address);
    SendRouteRequest(socket_, request.header, kRecheck);
  }
}

}  // namespace hostsweep::controller
