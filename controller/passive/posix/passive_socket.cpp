// One packet socket on every interface, with a kernel filter that lets
// through only what a device sends of its own accord: ARP, and UDP to the
// DHCP server port, mDNS and SSDP, none of it this machine's own. The queue
// is kept small: under a flood the kernel drops what the watch has no time
// for, rather than the controller growing.
#include "controller/passive/passive_socket.h"

#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "common/posix/file_descriptor.h"

namespace hostsweep::controller {
namespace {

constexpr std::size_t kMostFrame = 1514;
constexpr int kReceiveBuffer = 256 * 1024;
constexpr std::uint32_t kWholeFrame = 0xffff;
// Linux's extension: the frame's packet type rather than a byte of it.
constexpr auto kPacketType = static_cast<std::uint32_t>(SKF_AD_OFF + SKF_AD_PKTTYPE);

// The filter, as tcpdump would write it: not outbound and (arp or (udp and
// not a fragment and dst port 67, 5353 or 1900)).
constexpr std::array<sock_filter, 16> kFilter{{
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kPacketType),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OUTGOING, 13, 0),
    BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_ARP, 10, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 0, 10),
    BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 23),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_UDP, 0, 8),
    BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 20),
    BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, 0x3fff, 6, 0),
    BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 14),
    BPF_STMT(BPF_LD | BPF_H | BPF_IND, 16),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 67, 2, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 5353, 1, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 1900, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, kWholeFrame),
    BPF_STMT(BPF_RET | BPF_K, 0),
}};

std::string Failed(const std::string& what) {
  return "no listening between sweeps: " + what + ": " + std::strerror(errno);
}

class FilteredPacketSocket : public PassiveSocket {
 public:
  explicit FilteredPacketSocket(FileDescriptor fd) : fd_(std::move(fd)) {}

  [[nodiscard]] Descriptor Handle() const override { return fd_.Get(); }

  std::optional<std::vector<std::uint8_t>> Receive() override {
    std::vector<std::uint8_t> frame(kMostFrame);
    const ssize_t received = recv(fd_.Get(), frame.data(), frame.size(), MSG_DONTWAIT);
    if (received < 0) {
      return std::nullopt;
    }
    frame.resize(static_cast<std::size_t>(received));
    return frame;
  }

 private:
  FileDescriptor fd_;
};

}  // namespace

std::unique_ptr<PassiveSocket> OpenPassiveSocket(std::string& whyNot) {
  // Protocol 0: nothing is heard before the filter is on.
  FileDescriptor fd(socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    whyNot = Failed("packet socket");
    return nullptr;
  }
  const sock_fprog program{.len = kFilter.size(),
                           .filter = const_cast<sock_filter*>(kFilter.data())};
  const int bytes = kReceiveBuffer;
  sockaddr_ll everywhere{};
  everywhere.sll_family = AF_PACKET;
  everywhere.sll_protocol = htons(ETH_P_ALL);
  if (setsockopt(fd.Get(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof(program)) != 0 ||
      setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes)) != 0 ||
      bind(fd.Get(), reinterpret_cast<sockaddr*>(&everywhere), sizeof(everywhere)) != 0) {
    whyNot = Failed("socket filter");
    return nullptr;
  }
  return std::make_unique<FilteredPacketSocket>(std::move(fd));
}

}  // namespace hostsweep::controller
