// A VLAN switch in user space, for a lab whose kernel has neither 802.1Q
// interfaces nor VLAN filtering on bridges: one trunk port, whose frames
// carry 802.1Q tags, and access ports, each on one VLAN, whose frames carry
// none. A frame from the trunk goes, its tag taken off, to the access ports
// of its VLAN; one from an access port goes to the other access ports of its
// VLAN as it is and to the trunk tagged. Untagged frames on the trunk and
// tags for no access port's VLAN go nowhere, as on a switch that has no
// native VLAN. It floods instead of learning: the lab's VLANs are small.
//
//   trunk_switch --trunk IF --access IF:VLAN [--access IF:VLAN]...
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "controller/system/posix/tagged_receive.h"

namespace {

constexpr std::size_t kMostFrame = 1518;
constexpr std::size_t kMacs = 12;  // destination and source
constexpr std::size_t kTag = 4;
constexpr std::uint16_t kVlanIdBits = 0x0fff;
constexpr unsigned kByte = 8;

struct Port {
  std::string name;
  int index = 0;
  int fd = -1;
  std::uint16_t vlan = 0;  // 0: the trunk
};

Port Open(const std::string& name, std::uint16_t vlan) {
  Port port{.name = name, .index = static_cast<int>(if_nametoindex(name.c_str())), .vlan = vlan};
  port.fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
  if (port.index == 0 || port.fd < 0) {
    throw std::runtime_error(name + ": " + std::strerror(errno));
  }
  const int on = 1;
  sockaddr_ll at{};
  at.sll_family = AF_PACKET;
  at.sll_protocol = htons(ETH_P_ALL);
  at.sll_ifindex = port.index;
  if (setsockopt(port.fd, SOL_PACKET, PACKET_AUXDATA, &on, sizeof(on)) != 0 ||
      bind(port.fd, reinterpret_cast<sockaddr*>(&at), sizeof(at)) != 0) {
    throw std::runtime_error(name + ": " + std::strerror(errno));
  }
  return port;
}

void Send(const Port& port, const std::vector<std::uint8_t>& frame) {
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_ifindex = port.index;
  to.sll_halen = ETH_ALEN;
  sendto(port.fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
}

// The next frame a port heard, with the VLAN of its tag (which the kernel
// mostly takes off and tells in the auxiliary data) removed from the bytes;
// nothing for our own sending.
bool Receive(const Port& port, std::vector<std::uint8_t>& frame, std::uint16_t& vlan) {
  frame.resize(kMostFrame);
  const auto receipt = hostsweep::controller::ReceiveTagged(port.fd, frame, 0);
  if (!receipt || receipt->size < kMacs + 2 || receipt->from.sll_pkttype == PACKET_OUTGOING) {
    return false;
  }
  frame.resize(receipt->size);
  vlan = receipt->strippedVlan;
  const bool tagged = (frame[kMacs] << kByte | frame[kMacs + 1]) == ETH_P_8021Q;
  if (vlan == 0 && tagged && frame.size() >= kMacs + kTag + 2) {
    vlan = static_cast<std::uint16_t>((frame[kMacs + 2] << kByte | frame[kMacs + 3]) & kVlanIdBits);
    frame.erase(frame.begin() + kMacs, frame.begin() + kMacs + kTag);
  }
  return true;
}

void Forward(const std::vector<Port>& ports, std::size_t from, std::vector<std::uint8_t> frame,
             std::uint16_t vlan) {
  const bool fromTrunk = from == 0;
  if (fromTrunk == (vlan == 0)) {
    return;  // an untagged frame on the trunk, or a tagged one at an access port
  }
  const std::uint16_t on = fromTrunk ? vlan : ports[from].vlan;
  for (std::size_t i = 1; i < ports.size(); ++i) {
    if (i != from && ports[i].vlan == on) {
      Send(ports[i], frame);
    }
  }
  if (!fromTrunk) {
    const std::array<std::uint8_t, kTag> tag{ETH_P_8021Q >> kByte, ETH_P_8021Q & 0xff,
                                             static_cast<std::uint8_t>(on >> kByte),
                                             static_cast<std::uint8_t>(on)};
    frame.insert(frame.begin() + kMacs, tag.begin(), tag.end());
    Send(ports[0], frame);
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    std::vector<Port> ports(1);
    for (int i = 1; i + 1 < argc; i += 2) {
      const std::string option = argv[i];
      const std::string value = argv[i + 1];
      if (option == "--trunk") {
        ports[0] = Open(value, 0);
      } else if (const auto colon = value.rfind(':');
                 option == "--access" && colon != std::string::npos) {
        ports.push_back(Open(value.substr(0, colon),
                             static_cast<std::uint16_t>(std::stoi(value.substr(colon + 1)))));
      } else {
        throw std::runtime_error("usage: trunk_switch --trunk IF --access IF:VLAN...");
      }
    }
    if (ports[0].fd < 0 || ports.size() < 2) {
      throw std::runtime_error("usage: trunk_switch --trunk IF --access IF:VLAN...");
    }
    std::vector<pollfd> waits;
    waits.reserve(ports.size());
    for (const auto& port : ports) {
      waits.push_back({.fd = port.fd, .events = POLLIN, .revents = 0});
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::vector<std::uint8_t> frame;
    while (poll(waits.data(), waits.size(), -1) >= 0) {
      for (std::size_t i = 0; i < waits.size(); ++i) {
        std::uint16_t vlan = 0;
        if ((waits[i].revents & POLLIN) != 0 && Receive(ports[i], frame, vlan)) {
          Forward(ports, i, frame, vlan);
        }
      }
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "trunk_switch: %s\n", error.what());
    return 1;
  }
  return 0;
}
