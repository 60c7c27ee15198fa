// The link pass's packet socket: ARP frames sent and read whole on every
// Ethernet interface, replies only (a socket filter drops everything else in
// the kernel, our own requests included).
#include "controller/system/link_socket.h"

#include <ifaddrs.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "common/posix/file_descriptor.h"
#include "controller/base/errors.h"
#include "controller/system/interfaces.h"

namespace hostsweep::controller {
namespace {

constexpr std::size_t kMostFrame = 1514;
// Room for the replies of a large, fast sweep between two looks.
constexpr int kReceiveBuffer = 1 << 20;
constexpr std::uint16_t kArpReplyOperation = 2;
constexpr std::uint32_t kEtherTypeOffset = 12;
constexpr std::uint32_t kArpOperationOffset = 20;
constexpr std::uint32_t kWholeFrame = 0xffff;

[[noreturn]] void Fail(const std::string& what) {
  throw SystemError("ARP packet socket: " + what + ": " + std::strerror(errno));
}

struct LinkLayerOf {
  int index = 0;
  MacAddress mac{};
};

// The Ethernet interfaces that resolve addresses with ARP, by name.
std::map<std::string, LinkLayerOf> EthernetLinks() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    Fail("cannot list the network interfaces");
  }
  const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, freeifaddrs);
  std::map<std::string, LinkLayerOf> links;
  for (const ifaddrs* item = list; item != nullptr; item = item->ifa_next) {
    if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_PACKET ||
        (item->ifa_flags & IFF_NOARP) != 0) {
      continue;
    }
    const auto* link = reinterpret_cast<const sockaddr_ll*>(item->ifa_addr);
    LinkLayerOf entry{.index = link->sll_ifindex};
    if (link->sll_hatype == ARPHRD_ETHER && link->sll_halen == entry.mac.size()) {
      std::memcpy(entry.mac.data(), link->sll_addr, entry.mac.size());
      links.emplace(item->ifa_name, entry);
    }
  }
  return links;
}

class PacketSocket : public LinkSocket {
 public:
  explicit PacketSocket(FileDescriptor fd) : fd_(std::move(fd)) {}

  // The networks --localnet sweeps, on the interfaces that speak ARP.
  std::vector<LinkInterface> Interfaces() override {
    const auto links = EthernetLinks();
    std::vector<LinkInterface> interfaces;
    for (const auto& network : ReadInterfaceNetworks()) {
      const auto link = links.find(network.interfaceName);
      if (network.peer || link == links.end()) {
        continue;
      }
      interfaces.push_back({.index = link->second.index,
                            .name = network.interfaceName,
                            .mac = link->second.mac,
                            .address = network.address,
                            .prefixLength = network.prefixLength});
    }
    return interfaces;
  }

  void Listen() override {
    // Only ARP replies reach the socket's queue.
    std::array<sock_filter, 6> code{{
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, kEtherTypeOffset),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_ARP, 0, 3),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, kArpOperationOffset),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArpReplyOperation, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, kWholeFrame),
        BPF_STMT(BPF_RET | BPF_K, 0),
    }};
    const sock_fprog program{.len = static_cast<unsigned short>(code.size()),
                             .filter = code.data()};
    if (setsockopt(fd_.Get(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof(program)) != 0) {
      Fail("socket filter");
    }
    sockaddr_ll everywhere{};
    everywhere.sll_family = AF_PACKET;
    everywhere.sll_protocol = htons(ETH_P_ARP);
    if (bind(fd_.Get(), reinterpret_cast<sockaddr*>(&everywhere), sizeof(everywhere)) != 0) {
      Fail("bind");
    }
  }

  bool Send(int interfaceIndex, std::span<const std::uint8_t> frame) override {
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETH_P_ARP);
    to.sll_ifindex = interfaceIndex;
    to.sll_halen = ETH_ALEN;
    std::memset(to.sll_addr, 0xff, ETH_ALEN);
    if (sendto(fd_.Get(), frame.data(), frame.size(), MSG_DONTWAIT,
               reinterpret_cast<sockaddr*>(&to), sizeof(to)) >= 0) {
      return true;
    }
    if (errno == EAGAIN || errno == ENOBUFS || errno == EINTR) {
      return false;
    }
    Fail("send");
  }

  [[nodiscard]] Descriptor Handle() const override { return fd_.Get(); }

  std::optional<LinkFrame> Receive() override {
    LinkFrame frame;
    frame.bytes.resize(kMostFrame);
    sockaddr_ll from{};
    socklen_t fromSize = sizeof(from);
    const ssize_t received = recvfrom(fd_.Get(), frame.bytes.data(), frame.bytes.size(),
                                      MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromSize);
    if (received < 0 || from.sll_pkttype == PACKET_OUTGOING) {
      return std::nullopt;
    }
    frame.bytes.resize(static_cast<std::size_t>(received));
    frame.interfaceIndex = from.sll_ifindex;
    return frame;
  }

 private:
  FileDescriptor fd_;
};

}  // namespace

std::unique_ptr<LinkSocket> OpenLinkSocket(std::string& whyNot) {
  // Protocol 0: the socket hears nothing until Listen binds it, so nothing
  // piles up while the sweep is being prepared.
  FileDescriptor fd(socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    whyNot = errno == EPERM ? "no packet socket: it needs CAP_NET_RAW (root, or the right "
                              "the package gives hostsweep)"
                            : std::string("no packet socket: ") + std::strerror(errno);
    return nullptr;
  }
  // Set while the capabilities are held, so that root may go past the
  // system's limit (rmem_max). Best effort: a smaller buffer only means a
  // retry more.
  const int bytes = kReceiveBuffer;
  if (setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof(bytes)) != 0) {
    setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
  }
  return std::make_unique<PacketSocket>(std::move(fd));
}

}  // namespace hostsweep::controller
