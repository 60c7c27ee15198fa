// A worker that first opens a connection to its controller and never sends on
// it, then becomes the real worker (argv[1]) for the same request line,
// keeping that connection open until it ends.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "common/posix/report_socket.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s REAL_WORKER REQUEST_LINE\n", argv[0]);
    return 2;
  }
  const std::string requestLine = argv[2];
  const auto handle =
      static_cast<std::int32_t>(std::stol(requestLine.substr(0, requestLine.find(','))));
  const int silent = socket(AF_UNIX, SOCK_SEQPACKET, 0);  // no close-on-exec: it outlives exec
  const auto address = hostsweep::report_socket::AddressOf(handle);
  if (silent < 0 ||
      connect(silent, reinterpret_cast<const sockaddr*>(&address.name), address.length) != 0) {
    std::perror("connect");
    return 1;
  }
  execl(argv[1], argv[1], argv[2], static_cast<char*>(nullptr));
  std::perror("exec");
  return 1;
}
