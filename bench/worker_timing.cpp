// Times one worker batch on the wire: starts the worker and timestamps, in the
// kernel, every echo request it (and any successor) puts on the lab bridge.
//
//   worker_timing INTERFACE WORKER REQUEST-LINE
//
// Prints, one "key value" per line:
//   start_to_first_echo_us  process start to the first echo request
//   first_to_second_target_us  first echo request to the first one for
//                          another address (a successor's probe, when the
//                          first host answered); -1 with one target
//   peak_rss_kib           the largest peak memory of the worker and its successors
//   echo_requests          echo requests seen
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/posix/file_descriptor.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace {

constexpr std::size_t kEthernetHeader = 14;
constexpr int kPollMs = 20;

std::int64_t Microseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000 + time.tv_nsec / 1000;
}

struct EchoRequest {
  std::int64_t at;  // microseconds, realtime clock
  std::uint32_t destination;
};

hostsweep::FileDescriptor OpenCapture(const char* interface) {
  // Outgoing frames reach only the taps for every protocol.
  hostsweep::FileDescriptor capture(socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL)));
  if (!capture.Valid()) {
    std::perror("worker_timing: packet socket");
    return capture;
  }
  sockaddr_ll link{};
  link.sll_family = AF_PACKET;
  link.sll_protocol = htons(ETH_P_ALL);
  link.sll_ifindex = static_cast<int>(if_nametoindex(interface));
  const int on = 1;
  if (link.sll_ifindex == 0 ||
      bind(capture.Get(), reinterpret_cast<const sockaddr*>(&link), sizeof link) != 0 ||
      setsockopt(capture.Get(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0) {
    std::perror("worker_timing: capture on the interface");
    return {};
  }
  return capture;
}

// Reads one frame; false when none is waiting. An outgoing ICMP echo request
// is added to `requests` with the kernel's timestamp.
bool ReadFrame(int capture, std::vector<EchoRequest>& requests) {
  std::array<unsigned char, 2048> frame{};
  std::array<char, 128> control{};
  sockaddr_ll from{};
  iovec io{frame.data(), frame.size()};
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof from;
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  const ssize_t length = recvmsg(capture, &message, MSG_DONTWAIT);
  if (length < 0) {
    return false;
  }
  if (length < static_cast<ssize_t>(kEthernetHeader + 20 + 8) ||
      from.sll_pkttype != PACKET_OUTGOING || from.sll_protocol != htons(ETH_P_IP)) {
    return true;
  }
  const unsigned char* ip = frame.data() + kEthernetHeader;
  const std::size_t ipLength = static_cast<std::size_t>(ip[0] & 0x0F) * 4;
  if (ip[9] != IPPROTO_ICMP || ip[ipLength] != ICMP_ECHO) {
    return true;
  }
  EchoRequest request{0, 0};
  std::memcpy(&request.destination, ip + 16, sizeof request.destination);
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPNS) {
      timespec stamp{};
      std::memcpy(&stamp, CMSG_DATA(header), sizeof stamp);
      request.at = Microseconds(stamp);
    }
  }
  requests.push_back(request);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: worker_timing INTERFACE WORKER REQUEST-LINE\n", stderr);
    return 2;
  }
  const auto capture = OpenCapture(argv[1]);
  if (!capture.Valid()) {
    return 1;
  }
  // Successors outlive their starters; adopt them to reap them and read their memory.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  std::array<char*, 3> arguments{argv[2], argv[3], nullptr};
  timespec started{};
  clock_gettime(CLOCK_REALTIME, &started);
  pid_t worker = 0;
  if (const int error = posix_spawn(&worker, argv[2], nullptr, nullptr, arguments.data(), environ);
      error != 0) {
    std::fprintf(stderr, "worker_timing: cannot start %s: %s\n", argv[2], std::strerror(error));
    return 1;
  }
  std::vector<EchoRequest> requests;
  long peakKib = 0;
  for (;;) {
    pollfd readable{capture.Get(), POLLIN, 0};
    if (poll(&readable, 1, kPollMs) == 1) {
      while (ReadFrame(capture.Get(), requests)) {
      }
    }
    int status = 0;
    rusage usage{};
    pid_t ended = 0;
    while ((ended = wait4(-1, &status, WNOHANG, &usage)) > 0) {
      peakKib = std::max(peakKib, usage.ru_maxrss);
    }
    if (ended < 0 && errno == ECHILD) {
      break;
    }
  }
  while (ReadFrame(capture.Get(), requests)) {
  }
  const std::int64_t start = Microseconds(started);
  std::int64_t firstToSecond = -1;
  if (!requests.empty()) {
    const auto other = std::find_if(requests.begin(), requests.end(), [&](const EchoRequest& r) {
      return r.destination != requests.front().destination;
    });
    if (other != requests.end()) {
      firstToSecond = other->at - requests.front().at;
    }
  }
  std::printf("start_to_first_echo_us %lld\n",
              requests.empty() ? -1LL : static_cast<long long>(requests.front().at - start));
  std::printf("first_to_second_target_us %lld\n", static_cast<long long>(firstToSecond));
  std::printf("peak_rss_kib %ld\n", peakKib);
  std::printf("echo_requests %zu\n", requests.size());
  return 0;
}
