// Stands in for a crowd of hosts on one interface: COUNT consecutive
// addresses from FIRST, each with a MAC of its own (02-CD and the address's
// four bytes). It answers ARP requests for them from that MAC, echo requests
// to them with echo replies, and any UDP datagram to them with "port
// unreachable", as a thousand hosts without a NetBIOS service would. One
// process on one interface: a thousand kernel devices would each take every
// broadcast, and on a small machine their share of a crowded sweep's
// broadcasts makes answers seconds late.
//
//   crowd_responder --interface IF --first A --count N
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "controller/link/arp_frame.h"

namespace {

using hostsweep::controller::Address;
using hostsweep::controller::ArpMessage;
using hostsweep::controller::ArpOperation;
using hostsweep::controller::MacAddress;

constexpr std::size_t kMostFrame = 1514;
constexpr std::size_t kEthernetHeader = 14;
constexpr std::size_t kIpHeader = 20;  // ours, without options
constexpr std::uint8_t kProtocolIcmp = 1;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::uint8_t kEchoRequest = 8;

MacAddress MacOf(Address address) {
  return {0x02,
          0xcd,
          static_cast<std::uint8_t>(address >> 24),
          static_cast<std::uint8_t>(address >> 16),
          static_cast<std::uint8_t>(address >> 8),
          static_cast<std::uint8_t>(address)};
}

std::uint16_t Checksum(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    sum += static_cast<std::uint32_t>(bytes[i] << 8) + (i + 1 < bytes.size() ? bytes[i + 1] : 0);
  }
  while (sum >> 16) {
    sum = (sum & 0xffff) + (sum >> 16);
  }
  return static_cast<std::uint16_t>(~sum);
}

void Put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

Address Get32(const std::uint8_t* at) {
  return (Address{at[0]} << 24) | (Address{at[1]} << 16) | (Address{at[2]} << 8) | at[3];
}

// An Ethernet frame with an IPv4 packet from `from` to `to` carrying `icmp`.
std::vector<std::uint8_t> IcmpFrame(const MacAddress& toMac, Address from, Address to,
                                    std::vector<std::uint8_t> icmp) {
  Put16(&icmp[2], 0);
  Put16(&icmp[2], Checksum(icmp));
  std::vector<std::uint8_t> frame(kEthernetHeader + kIpHeader + icmp.size());
  std::copy(toMac.begin(), toMac.end(), frame.begin());
  const MacAddress fromMac = MacOf(from);
  std::copy(fromMac.begin(), fromMac.end(), frame.begin() + 6);
  Put16(&frame[12], ETH_P_IP);
  std::uint8_t* ip = &frame[kEthernetHeader];
  ip[0] = 0x45;
  Put16(&ip[2], static_cast<std::uint16_t>(kIpHeader + icmp.size()));
  ip[8] = 64;  // time to live
  ip[9] = kProtocolIcmp;
  for (int i = 0; i < 4; ++i) {
    ip[12 + i] = static_cast<std::uint8_t>(from >> (24 - 8 * i));
    ip[16 + i] = static_cast<std::uint8_t>(to >> (24 - 8 * i));
  }
  Put16(&ip[10], Checksum({ip, kIpHeader}));
  std::copy(icmp.begin(), icmp.end(), frame.begin() + kEthernetHeader + kIpHeader);
  return frame;
}

// The answer to an IPv4 frame for one of ours: an echo reply or a port
// unreachable; nothing for anything else.
std::vector<std::uint8_t> AnswerIp(std::span<const std::uint8_t> frame, Address first,
                                   Address count) {
  if (frame.size() < kEthernetHeader + kIpHeader || frame[12] * 256 + frame[13] != ETH_P_IP) {
    return {};
  }
  const std::uint8_t* ip = &frame[kEthernetHeader];
  const std::size_t headerSize = static_cast<std::size_t>(ip[0] & 0x0f) * 4;
  const std::size_t total =
      std::min<std::size_t>(ip[2] * 256U + ip[3], frame.size() - kEthernetHeader);
  const Address to = Get32(ip + 16);
  if ((ip[0] >> 4) != 4 || headerSize < kIpHeader || total < headerSize + 8 ||
      to - first >= count) {
    return {};
  }
  MacAddress sender{};
  std::copy_n(frame.begin() + 6, sender.size(), sender.begin());
  const Address from = Get32(ip + 12);
  const std::uint8_t* payload = ip + headerSize;
  if (ip[9] == kProtocolIcmp && payload[0] == kEchoRequest) {
    std::vector<std::uint8_t> reply(payload, ip + total);
    reply[0] = 0;  // echo reply
    return IcmpFrame(sender, to, from, reply);
  }
  if (ip[9] == kProtocolUdp) {
    std::vector<std::uint8_t> unreachable{3, 3, 0, 0, 0, 0, 0, 0};
    unreachable.insert(unreachable.end(), ip, payload + 8);
    return IcmpFrame(sender, to, from, unreachable);
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) try {
  std::string interface;
  Address first = 0;
  Address count = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    in_addr address{};
    if (name == "--interface") {
      interface = value;
    } else if (name == "--first" && inet_pton(AF_INET, value.c_str(), &address) == 1) {
      first = ntohl(address.s_addr);
    } else if (name == "--count") {
      count = static_cast<Address>(std::stoul(value));
    } else {
      throw std::invalid_argument("bad option " + name);
    }
  }
  const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
  const int index = static_cast<int>(if_nametoindex(interface.c_str()));
  if (fd < 0 || index == 0 || first == 0 || count == 0) {
    throw std::runtime_error("usage: --interface IF --first A --count N (" +
                             std::string(std::strerror(errno)) + ")");
  }
  sockaddr_ll here{};
  here.sll_family = AF_PACKET;
  here.sll_protocol = htons(ETH_P_ALL);
  here.sll_ifindex = index;
  packet_mreq promiscuous{};
  promiscuous.mr_ifindex = index;
  promiscuous.mr_type = PACKET_MR_PROMISC;
  // A sweep at its highest rate asks a thousand addresses in 50 ms; the
  // default buffer drops most of a burst while this process waits its turn.
  const int buffer = 8 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof(buffer));
  if (bind(fd, reinterpret_cast<sockaddr*>(&here), sizeof(here)) != 0 ||
      setsockopt(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promiscuous, sizeof(promiscuous)) != 0) {
    throw std::runtime_error(std::string("bind: ") + std::strerror(errno));
  }
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) {
    std::array<std::uint8_t, kMostFrame> buffer{};
    sockaddr_ll origin{};
    socklen_t originSize = sizeof(origin);
    const ssize_t size = recvfrom(fd, buffer.data(), buffer.size(), 0,
                                  reinterpret_cast<sockaddr*>(&origin), &originSize);
    if (size <= 0 || origin.sll_pkttype == PACKET_OUTGOING) {
      continue;
    }
    const std::span frame(buffer.data(), static_cast<std::size_t>(size));
    std::vector<std::uint8_t> answer;
    const auto request = hostsweep::controller::DecodeArpFrame(frame);
    if (request && request->operation == ArpOperation::kRequest &&
        request->targetAddress - first < count) {
      const ArpMessage reply{.operation = ArpOperation::kReply,
                             .senderMac = MacOf(request->targetAddress),
                             .senderAddress = request->targetAddress,
                             .targetMac = request->senderMac,
                             .targetAddress = request->senderAddress};
      answer = hostsweep::controller::EncodeArpFrame(reply, request->senderMac);
    } else if (!request) {
      answer = AnswerIp(frame, first, count);
    }
    if (!answer.empty()) {
      send(fd, answer.data(), answer.size(), 0);
    }
  }
} catch (const std::exception& error) {
  std::fprintf(stderr, "crowd_responder: %s\n", error.what());
  return 2;
}
