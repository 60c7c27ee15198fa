// Receives worker reports at "hostsweep/<handle>" and prints them, one per
// line: a stand-in for the controller when trying the worker by hand.
//
//   report_listener HANDLE [--count N] [--seconds T] [--bytes]
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "platform/posix/report_socket.h"

namespace {

using hostsweep::report_socket::Packet;

struct Options {
  std::int32_t handle = 0;
  long count = -1;  // no limit
  long seconds = 10;
  bool bytes = false;
};

int Usage() {
  std::fputs("usage: report_listener HANDLE [--count N] [--seconds T] [--bytes]\n", stderr);
  return 2;
}

void Print(const Packet& packet, bool bytes) {
  const std::string text(packet.payload.begin(),
                         std::find(packet.payload.begin(), packet.payload.end(), 0));
  if (!bytes) {
    std::printf("%s\n", text.c_str());
  } else {
    std::printf("dwData=%u cbData=%zu bytes=", packet.dwData, packet.payload.size());
    for (const unsigned char byte : packet.payload) {
      std::printf("%02X", byte);
    }
    std::printf(" text=%s\n", text.c_str());
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (argc < 2) {
    return Usage();
  }
  options.handle = static_cast<std::int32_t>(std::strtol(argv[1], nullptr, 10));
  for (int i = 2; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--bytes") {
      options.bytes = true;
    } else if ((option == "--count" || option == "--seconds") && i + 1 < argc) {
      (option == "--count" ? options.count : options.seconds) = std::strtol(argv[++i], nullptr, 10);
    } else {
      return Usage();
    }
  }
  const int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  const auto address = hostsweep::report_socket::AddressOf(options.handle);
  if (bind(listener, reinterpret_cast<const sockaddr*>(&address.name), address.length) != 0 ||
      listen(listener, 64) != 0) {
    std::perror("report_listener: cannot listen at that handle");
    return 1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.seconds);
  for (long received = 0; options.count < 0 || received < options.count;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd waiting{listener, POLLIN, 0};
    if (left.count() <= 0 || poll(&waiting, 1, static_cast<int>(left.count())) <= 0) {
      break;
    }
    const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
      continue;
    }
    std::array<unsigned char, 70000> buffer{};
    pollfd readable{connection, POLLIN, 0};
    const ssize_t length =
        hostsweep::report_socket::PeerIsSameUser(connection) && poll(&readable, 1, 1000) == 1
            ? recv(connection, buffer.data(), buffer.size(), 0)
            : -1;
    if (length > 0) {
      if (const auto packet = hostsweep::report_socket::Decode(
              std::span(buffer).first(static_cast<std::size_t>(length)))) {
        Print(*packet, options.bytes);
        ++received;
      }
      send(connection, &hostsweep::report_socket::kAcknowledgement, 1, MSG_NOSIGNAL);
    }
    close(connection);
  }
  close(listener);
  return 0;
}
