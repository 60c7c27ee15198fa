#include "controller/system/device_network.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "common/posix/file_descriptor.h"

namespace hostsweep::controller {
namespace {

constexpr std::size_t kReadSize = 4096;

sockaddr_in SocketAddress(Address address, std::uint16_t port) {
  sockaddr_in socketAddress{};
  socketAddress.sin_family = AF_INET;
  socketAddress.sin_port = htons(port);
  socketAddress.sin_addr.s_addr = htonl(address);
  return socketAddress;
}

bool Transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

class PosixMulticastSocket : public LinkMulticastSocket {
 public:
  explicit PosixMulticastSocket(FileDescriptor fd) : fd_(std::move(fd)) {}

  bool Send(Address group, std::uint16_t port, std::span<const std::uint8_t> datagram) override {
    const auto to = SocketAddress(group, port);
    return sendto(fd_.Get(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0 ||
           Transient(errno);
  }
  Receipt Receive(std::vector<std::uint8_t>& buffer, Address& from) override {
    sockaddr_in sender{};
    socklen_t size = sizeof sender;
    const ssize_t length = recvfrom(fd_.Get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                    reinterpret_cast<sockaddr*>(&sender), &size);
    if (length < 0) {
      return Transient(errno) ? Receipt::kNothing : Receipt::kRefused;
    }
    buffer.resize(static_cast<std::size_t>(length));
    from = ntohl(sender.sin_addr.s_addr);
    return Receipt::kDatagram;
  }
  [[nodiscard]] int Get() const { return fd_.Get(); }

 private:
  FileDescriptor fd_;
};

class PosixTcpExchange : public TcpExchange {
 public:
  PosixTcpExchange(FileDescriptor fd, std::string request)
      : fd_(std::move(fd)), unsent_(std::move(request)) {}

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
  [[nodiscard]] pollfd Entry() const {
    return {fd_.Get(), static_cast<short>(POLLIN | (unsent_.empty() ? 0 : POLLOUT)), 0};
  }

 private:
  FileDescriptor fd_;
  std::string unsent_;
};

class PosixDeviceNetwork : public DeviceNetwork {
 public:
  std::unique_ptr<LinkMulticastSocket> OpenMulticast(Address local) override {
    FileDescriptor fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const auto bound = SocketAddress(local, 0);
    in_addr interface {};
    interface.s_addr = htonl(local);
    const unsigned char timeToLive = 1;
    const unsigned char loop = 0;  // our own search is not an answer
    if (!fd.Valid() ||
        bind(fd.Get(), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0 ||
        setsockopt(fd.Get(), IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface) != 0 ||
        setsockopt(fd.Get(), IPPROTO_IP, IP_MULTICAST_TTL, &timeToLive, sizeof timeToLive) != 0 ||
        setsockopt(fd.Get(), IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0) {
      return nullptr;
    }
    return std::make_unique<PosixMulticastSocket>(std::move(fd));
  }

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

  void Wait(const std::vector<LinkMulticastSocket*>& sockets,
            const std::vector<TcpExchange*>& exchanges,
            std::chrono::milliseconds timeout) override {
    std::vector<pollfd> entries;
    entries.reserve(sockets.size() + exchanges.size());
    for (const auto* socket : sockets) {
      entries.push_back({static_cast<const PosixMulticastSocket*>(socket)->Get(), POLLIN, 0});
    }
    for (const auto* exchange : exchanges) {
      entries.push_back(static_cast<const PosixTcpExchange*>(exchange)->Entry());
    }
    poll(entries.data(), entries.size(), static_cast<int>(timeout.count()));
  }
};

}  // namespace

std::unique_ptr<DeviceNetwork> MakeDeviceNetwork() {
  return std::make_unique<PosixDeviceNetwork>();
}

}  // namespace hostsweep::controller
