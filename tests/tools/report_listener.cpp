// Receives worker reports at "hostsweep/<handle>" and prints them, one per
// line: a stand-in for the controller when trying the worker by hand.
//
//   report_listener HANDLE [--count N] [--seconds T] [--bytes]
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/posix/report_socket.h"
#include "common/report.h"

namespace {

using hostsweep::report_socket::Packet;

constexpr int kConnectionPatienceMs = 1000;

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
  const std::string text = hostsweep::ReportText(packet.payload);
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
  const auto listener = hostsweep::report_socket::Listen(options.handle);
  if (!listener.Valid()) {
    std::perror("report_listener: cannot listen at that handle");
    return 1;
  }
  long received = 0;
  const auto print = [&](const Packet& packet) {
    Print(packet, options.bytes);
    ++received;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.seconds);
  while (options.count < 0 || received < options.count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd waiting{listener.Get(), POLLIN, 0};
    if (left.count() <= 0 || poll(&waiting, 1, static_cast<int>(left.count())) <= 0) {
      break;
    }
    if (const auto connection = hostsweep::report_socket::Accept(listener.Get())) {
      hostsweep::report_socket::Receive(connection->socket.Get(), kConnectionPatienceMs, print);
    }
  }
  return 0;
}
