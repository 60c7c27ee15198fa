// Answers ARP requests for one address on one interface, after a delay and
// with a MAC of its choosing, so that the lab can hold a host that answers
// late (a dozing Wi-Fi adapter) or a second host claiming an address; with
// `--address any`, every request, as a liar inventing hosts does; with
// `--loss PERCENT`, answers lost at random, as on a link that drops packets
// (the lab's kernel may have no netem).
//
//   arp_responder --interface IF --address A|any [--mac 02-00-5E-10-00-29] [--delay MS]
//                 [--loss PERCENT]
//
// Without --mac it answers with the interface's own address.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "controller/link/arp_frame.h"

namespace {

using hostsweep::controller::ArpMessage;
using hostsweep::controller::ArpOperation;
using hostsweep::controller::MacAddress;
using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kEtherTypeArp = 0x0806;
constexpr std::size_t kMostFrame = 1514;

struct Options {
  std::string interface;
  hostsweep::controller::Address address = 0;
  bool anyAddress = false;
  std::optional<MacAddress> mac;
  std::chrono::milliseconds delay{0};
  double loss = 0;  // the share of answers dropped
};

Options Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--interface") {
      options.interface = value;
    } else if (name == "--address" && value == "any") {
      options.anyAddress = true;
    } else if (name == "--address") {
      in_addr address{};
      if (inet_pton(AF_INET, value.c_str(), &address) != 1) {
        throw std::invalid_argument("bad address " + value);
      }
      options.address = ntohl(address.s_addr);
    } else if (name == "--mac") {
      options.mac = hostsweep::controller::ParseMac(value);
      if (!options.mac) {
        throw std::invalid_argument("bad MAC " + value);
      }
    } else if (name == "--delay") {
      options.delay = std::chrono::milliseconds(std::stoi(value));
    } else if (name == "--loss") {
      constexpr double kPercent = 100;
      options.loss = std::stod(value) / kPercent;
    } else {
      throw std::invalid_argument("unknown option " + name);
    }
  }
  if (options.interface.empty() || (options.address == 0 && !options.anyAddress)) {
    throw std::invalid_argument("--interface and --address are needed");
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) try {
  Options options = Parse(argc, argv);
  const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(kEtherTypeArp));
  const int index = static_cast<int>(if_nametoindex(options.interface.c_str()));
  if (fd < 0 || index == 0) {
    throw std::runtime_error(std::string("packet socket: ") + std::strerror(errno));
  }
  sockaddr_ll here{};
  here.sll_family = AF_PACKET;
  here.sll_protocol = htons(kEtherTypeArp);
  here.sll_ifindex = index;
  if (bind(fd, reinterpret_cast<sockaddr*>(&here), sizeof(here)) != 0) {
    throw std::runtime_error(std::string("bind: ") + std::strerror(errno));
  }
  if (!options.mac) {
    ifreq request{};
    std::strncpy(request.ifr_name, options.interface.c_str(), IFNAMSIZ - 1);
    if (ioctl(fd, SIOCGIFHWADDR, &request) != 0) {
      throw std::runtime_error(std::string("interface MAC: ") + std::strerror(errno));
    }
    MacAddress own{};
    std::memcpy(own.data(), request.ifr_hwaddr.sa_data, own.size());
    options.mac = own;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  std::multimap<Clock::time_point, std::pair<MacAddress, std::vector<std::uint8_t>>> due;
  std::mt19937 random(std::random_device{}());
  std::bernoulli_distribution lost(options.loss);
  for (;;) {
    const auto now = Clock::now();
    while (!due.empty() && due.begin()->first <= now) {
      const auto& [to, frame] = due.begin()->second;
      sockaddr_ll there = here;
      there.sll_halen = to.size();
      std::copy(to.begin(), to.end(), there.sll_addr);
      sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&there), sizeof(there));
      due.erase(due.begin());
    }
    const int wait =
        due.empty()
            ? -1
            : static_cast<int>(
                  std::chrono::ceil<std::chrono::milliseconds>(due.begin()->first - now).count());
    pollfd wanted{.fd = fd, .events = POLLIN, .revents = 0};
    if (poll(&wanted, 1, wait) <= 0) {
      continue;
    }
    std::array<std::uint8_t, kMostFrame> buffer{};
    const ssize_t size = recv(fd, buffer.data(), buffer.size(), 0);
    const auto request = hostsweep::controller::DecodeArpFrame(
        std::span(buffer.data(), static_cast<std::size_t>(std::max<ssize_t>(size, 0))));
    if (!request || request->operation != ArpOperation::kRequest ||
        (request->targetAddress != options.address && !options.anyAddress) || lost(random)) {
      continue;
    }
    const ArpMessage reply{.operation = ArpOperation::kReply,
                           .senderMac = *options.mac,
                           .senderAddress = request->targetAddress,
                           .targetMac = request->senderMac,
                           .targetAddress = request->senderAddress};
    due.emplace(Clock::now() + options.delay,
                std::pair(request->senderMac,
                          hostsweep::controller::EncodeArpFrame(reply, request->senderMac)));
  }
} catch (const std::exception& error) {
  std::fprintf(stderr, "arp_responder: %s\n", error.what());
  return 2;
}
