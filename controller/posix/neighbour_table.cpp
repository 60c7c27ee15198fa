// The neighbour table over rtnetlink: one RTM_GETNEIGH dump of the IPv4 entries.
#include "controller/posix/neighbour_table.h"

#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "common/posix/file_descriptor.h"
#include "controller/errors.h"
#include "controller/link_layer.h"

namespace hostsweep::controller {
namespace {

// Resolved entries; INCOMPLETE and FAILED ones have no usable address.
constexpr unsigned kUsableStates =
    NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT;
constexpr std::size_t kReceiveBuffer = 32768;
constexpr std::size_t kIpv4Bytes = 4;
constexpr long kMillisecondsPerSecond = 1000;

[[noreturn]] void Fail(const char* what) {
  throw SystemError(std::string("cannot read the neighbour table: ") + what + ": " +
                    std::strerror(errno));
}

struct DumpRequest {
  nlmsghdr header;
  ndmsg message;
};

void SendDumpRequest(int fd) {
  DumpRequest request{};
  request.header.nlmsg_len = sizeof(request);
  request.header.nlmsg_type = RTM_GETNEIGH;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = 1;
  request.message.ndm_family = AF_INET;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(fd, &request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&kernel),
             sizeof(kernel)) < 0) {
    Fail("send");
  }
}

// One RTM_NEWNEIGH message, if it is a usable IPv4 entry with an Ethernet address.
std::optional<NeighbourEntry> ParseEntry(const nlmsghdr* header) {
  if (header->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg))) {
    return std::nullopt;
  }
  const auto* message = static_cast<const ndmsg*>(NLMSG_DATA(header));
  if (message->ndm_family != AF_INET || (message->ndm_state & kUsableStates) == 0) {
    return std::nullopt;
  }
  NeighbourEntry entry;
  entry.reachable = (message->ndm_state & NUD_REACHABLE) != 0;
  bool haveAddress = false;
  bool haveMac = false;
  int length = static_cast<int>(RTM_PAYLOAD(header));
  for (const auto* attribute = reinterpret_cast<const rtattr*>(
           reinterpret_cast<const char*>(message) + NLMSG_ALIGN(sizeof(ndmsg)));
       RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
    const auto* data = static_cast<const unsigned char*>(RTA_DATA(attribute));
    const std::size_t size = RTA_PAYLOAD(attribute);
    if (attribute->rta_type == NDA_DST && size == kIpv4Bytes) {
      entry.address = Address{data[0]} << 24 | Address{data[1]} << 16 | Address{data[2]} << 8 |
                      Address{data[3]};
      haveAddress = true;
    } else if (attribute->rta_type == NDA_LLADDR && size == entry.mac.size()) {
      std::memcpy(entry.mac.data(), data, size);
      haveMac = true;
    } else if (attribute->rta_type == NDA_CACHEINFO && size >= sizeof(nda_cacheinfo)) {
      nda_cacheinfo info{};
      std::memcpy(&info, data, sizeof(info));
      // Ages are in clock ticks.
      static const long ticksPerSecond = sysconf(_SC_CLK_TCK);
      entry.sinceConfirmed = std::chrono::milliseconds(static_cast<long>(info.ndm_confirmed) *
                                                       kMillisecondsPerSecond / ticksPerSecond);
    }
  }
  if (!haveAddress || !haveMac) {
    return std::nullopt;
  }
  return entry;
}

}  // namespace

bool ReadNeighbourDatagram(std::span<const char> datagram, std::vector<NeighbourEntry>& entries) {
  auto remaining = static_cast<unsigned>(datagram.size());
  for (const auto* header = reinterpret_cast<const nlmsghdr*>(datagram.data());
       NLMSG_OK(header, remaining); header = NLMSG_NEXT(header, remaining)) {
    if (header->nlmsg_type == NLMSG_DONE) {
      return true;
    }
    if (header->nlmsg_type == NLMSG_ERROR) {
      errno = header->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr))
                  ? -static_cast<const nlmsgerr*>(NLMSG_DATA(header))->error
                  : EPROTO;
      Fail("dump");
    }
    if (header->nlmsg_type == RTM_NEWNEIGH) {
      if (auto entry = ParseEntry(header)) {
        entries.push_back(*entry);
      }
    }
  }
  return false;
}

std::vector<NeighbourEntry> ReadNeighbourTable() {
  const FileDescriptor fd(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
  if (!fd.Valid()) {
    Fail("socket");
  }
  SendDumpRequest(fd.Get());
  std::vector<NeighbourEntry> entries;
  alignas(nlmsghdr) std::array<char, kReceiveBuffer> buffer{};
  for (;;) {
    const ssize_t received = recv(fd.Get(), buffer.data(), buffer.size(), 0);
    if (received < 0) {
      if (errno == EINTR) {
        continue;
      }
      Fail("receive");
    }
    if (ReadNeighbourDatagram({buffer.data(), static_cast<std::size_t>(received)}, entries)) {
      return entries;
    }
  }
}

}  // namespace hostsweep::controller
