// The link pass's packet socket: ARP frames sent and read whole on every
// Ethernet interface, replies only (a socket filter drops everything else in
// the kernel, our own requests included), 802.1Q-tagged ones too.
#include "controller/system/link_socket.h"

#include <ifaddrs.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <memory>

#include "common/posix/file_descriptor.h"
#include "controller/base/errors.h"
#include "controller/system/interfaces.h"
#include "controller/system/posix/tagged_receive.h"

namespace hostsweep::controller {
namespace {

constexpr std::size_t kMostFrame = 1514;
// Room for the replies of a large, fast sweep between two looks.
constexpr int kReceiveBuffer = 1 << 20;
constexpr std::uint16_t kArpReplyOperation = 2;
constexpr std::uint32_t kEtherTypeOffset = 12;
constexpr std::uint32_t kArpOperationOffset = 20;
constexpr std::uint32_t kVlanTag = 4;
constexpr std::uint32_t kWholeFrame = 0xffff;
constexpr std::uint16_t kDiscardPort = 9;

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
    // Only ARP replies reach the socket's queue, with or without the 802.1Q
    // tag still in the frame (the kernel mostly takes it off before the
    // filter sees it, and says so in the auxiliary data).
    std::array<sock_filter, 11> code{{
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, kEtherTypeOffset),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_8021Q, 0, 4),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, kEtherTypeOffset + kVlanTag),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_ARP, 0, 6),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, kArpOperationOffset + kVlanTag),
        BPF_STMT(BPF_JMP | BPF_JA, 2),
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
    const int on = 1;
    if (setsockopt(fd_.Get(), SOL_PACKET, PACKET_AUXDATA, &on, sizeof(on)) != 0) {
      Fail("auxiliary data");
    }
    // Every protocol, for the filter to choose from: a tagged frame for a VLAN
    // this machine has no interface on reaches a socket bound to ARP alone
    // with its tag already dropped.
    sockaddr_ll everywhere{};
    everywhere.sll_family = AF_PACKET;
    everywhere.sll_protocol = htons(ETH_P_ALL);
    if (bind(fd_.Get(), reinterpret_cast<sockaddr*>(&everywhere), sizeof(everywhere)) != 0) {
      Fail("bind");
    }
  }

  bool Send(int interfaceIndex, std::span<const std::uint8_t> frame) override {
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = frame.size() > kEtherTypeOffset + 1
                          ? htons(static_cast<std::uint16_t>(frame[kEtherTypeOffset] << CHAR_BIT |
                                                             frame[kEtherTypeOffset + 1]))
                          : htons(ETH_P_ARP);
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

  // A datagram socket's connect looks the route up and sends nothing.
  [[nodiscard]] bool Routed(Address address) const override {
    const FileDescriptor probe(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kDiscardPort);
    to.sin_addr.s_addr = htonl(address);
    return probe.Valid() &&
           connect(probe.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof(to)) == 0;
  }

  std::optional<LinkFrame> Receive() override {
    LinkFrame frame;
    frame.bytes.resize(kMostFrame);
    const auto receipt = ReceiveTagged(fd_.Get(), frame.bytes, MSG_DONTWAIT);
    if (!receipt || receipt->from.sll_pkttype == PACKET_OUTGOING) {
      return std::nullopt;
    }
    frame.bytes.resize(receipt->size);
    frame.interfaceIndex = receipt->from.sll_ifindex;
    frame.strippedVlan = receipt->strippedVlan;
    return frame;
  }

 private:
  FileDescriptor fd_;
};

}  // namespace

LinkInterface TrunkPort(const std::string& name) {
  const auto links = EthernetLinks();
  const auto link = links.find(name);
  if (link == links.end()) {
    throw UsageError("--vlan: " + name + " is no Ethernet interface of this machine");
  }
  return {.index = link->second.index, .name = name, .mac = link->second.mac};
}

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
