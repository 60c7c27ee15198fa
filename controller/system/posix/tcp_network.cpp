#include "controller/system/tcp_network.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#include "common/posix/file_descriptor.h"
#include "controller/system/posix/socket_address.h"

namespace hostsweep::controller {
namespace {

constexpr std::size_t kReadSize = 4096;

bool Transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

class PosixTcpExchange : public TcpExchange {
 public:
  PosixTcpExchange(FileDescriptor fd, std::string request)
      : fd_(std::move(fd)), unsent_(std::move(request)) {}

  [[nodiscard]] Descriptor Handle() const override { return fd_.Get(); }
  [[nodiscard]] bool Sending() const override { return !unsent_.empty(); }
  StreamState Pump(std::string& into, std::size_t most) override {
    if (!unsent_.empty()) {
      // While connecting, send says EAGAIN; a refused connection, an error.
      const ssize_t sent =
          send(fd_.Get(), unsent_.data(), unsent_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0 && !Transient(errno)) {
        return StreamState::kFailed;
      }
      unsent_.erase(0, sent > 0 ? static_cast<std::size_t>(sent) : 0);
    }
    while (into.size() < most) {
      const std::size_t old = into.size();
      into.resize(std::min(most, old + kReadSize));
      const ssize_t got = recv(fd_.Get(), into.data() + old, into.size() - old, MSG_DONTWAIT);
      into.resize(old + (got > 0 ? static_cast<std::size_t>(got) : 0));
      if (got == 0) {
        return StreamState::kClosed;
      }
      if (got < 0) {
        return Transient(errno) || errno == ENOTCONN ? StreamState::kOpen : StreamState::kFailed;
      }
    }
    return StreamState::kOpen;
  }

 private:
  FileDescriptor fd_;
  std::string unsent_;
};

class PosixTcpNetwork : public TcpNetwork {
 public:
  std::unique_ptr<TcpExchange> Connect(Address address, std::uint16_t port,
                                       std::string request) override {
    FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const auto peer = SocketAddress(address, port);
    if (!fd.Valid() ||
        (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 &&
         errno != EINPROGRESS)) {
      return nullptr;
    }
    return std::make_unique<PosixTcpExchange>(std::move(fd), std::move(request));
  }
};

}  // namespace

std::unique_ptr<TcpNetwork> MakeTcpNetwork() { return std::make_unique<PosixTcpNetwork>(); }

}  // namespace hostsweep::controller
