// Floods a link with forged gratuitous ARP, each frame from a MAC never used
// before (02-F1 and a count) claiming an address of 10.213.1.128/25, as fast
// as RATE frames a second allow, for SECONDS; prints how many it sent. The
// frames go out in batches of one system call each, so that one process
// outpaces what a listener on a small machine can read. Broadcast unless --to
// names the listener's MAC: a bridge then hands them to it alone instead of
// to every host of the lab, which on a small machine caps the rate first.
//
//   frame_flood --interface IF --seconds S [--rate FRAMES_PER_SECOND] [--to MAC]
#include <net/if.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "controller/base/mac_address.h"
#include "controller/link/arp_frame.h"

namespace {

using hostsweep::controller::ArpOperation;
using hostsweep::controller::EncodeArpFrame;
using hostsweep::controller::kBroadcastMac;
using hostsweep::controller::MacAddress;
using hostsweep::controller::ParseMac;

constexpr std::size_t kBatch = 256;
constexpr std::uint32_t kFirstClaimed = 0x0AD50180;  // 10.213.1.128
constexpr std::uint32_t kClaimed = 128;

struct Settings {
  std::string interface;
  double seconds = 0;
  double rate = 1e9;
  MacAddress to = kBroadcastMac;
};

Settings Parse(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--interface") {
      settings.interface = argv[i + 1];
    } else if (option == "--seconds") {
      settings.seconds = std::stod(argv[i + 1]);
    } else if (option == "--rate") {
      settings.rate = std::stod(argv[i + 1]);
    } else if (option == "--to" && ParseMac(argv[i + 1])) {
      settings.to = *ParseMac(argv[i + 1]);
    } else {
      throw std::invalid_argument("unknown option " + option);
    }
  }
  if (settings.interface.empty() || settings.seconds <= 0 || settings.rate <= 0) {
    throw std::invalid_argument(
        "usage: frame_flood --interface IF --seconds S [--rate N] [--to MAC]");
  }
  return settings;
}

// The `count`th forged claim.
std::vector<std::uint8_t> Claim(std::uint32_t count, const MacAddress& to) {
  const MacAddress mac{0x02,
                       0xf1,
                       static_cast<std::uint8_t>(count >> 24U),
                       static_cast<std::uint8_t>(count >> 16U),
                       static_cast<std::uint8_t>(count >> 8U),
                       static_cast<std::uint8_t>(count)};
  const std::uint32_t address = kFirstClaimed + count % kClaimed;
  return EncodeArpFrame({.operation = ArpOperation::kRequest,
                         .senderMac = mac,
                         .senderAddress = address,
                         .targetMac = {},
                         .targetAddress = address},
                        to);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Settings settings = Parse(argc, argv);
    const int link = socket(AF_PACKET, SOCK_RAW, 0);
    if (link < 0) {
      throw std::runtime_error("no packet socket");
    }
    sockaddr_ll where{};
    where.sll_family = AF_PACKET;
    where.sll_ifindex = static_cast<int>(if_nametoindex(settings.interface.c_str()));
    if (where.sll_ifindex == 0 || bind(link, reinterpret_cast<sockaddr*>(&where), sizeof where)) {
      throw std::runtime_error("cannot bind to " + settings.interface);
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(settings.seconds);
    std::uint32_t sent = 0;
    std::vector<std::vector<std::uint8_t>> frames(kBatch);
    std::array<iovec, kBatch> parts{};
    std::array<mmsghdr, kBatch> messages{};
    while (Clock::now() < end) {
      for (std::size_t i = 0; i < kBatch; ++i) {
        frames[i] = Claim(sent + static_cast<std::uint32_t>(i), settings.to);
        parts[i] = {frames[i].data(), frames[i].size()};
        messages[i].msg_hdr = {};
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
      }
      const int out = sendmmsg(link, messages.data(), kBatch, 0);
      sent += out > 0 ? static_cast<std::uint32_t>(out) : 0;
      // Paced by the batch: where the rate allows fewer, wait for them.
      std::this_thread::sleep_until(start + std::chrono::duration<double>(sent / settings.rate));
    }
    close(link);
    std::printf("%u\n", sent);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "frame_flood: %s\n", error.what());
    return 2;
  }
}
