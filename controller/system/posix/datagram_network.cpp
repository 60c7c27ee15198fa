#include "controller/system/datagram_network.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#include "common/posix/file_descriptor.h"
#include "controller/system/posix/socket_address.h"

namespace hostsweep::controller {
namespace {

bool Sent(ssize_t result) { return result >= 0 || errno == EAGAIN || errno == EINTR; }

class PosixDatagramSocket : public DatagramSocket {
 public:
  explicit PosixDatagramSocket(FileDescriptor fd) : fd_(std::move(fd)) {}

  [[nodiscard]] Descriptor Handle() const override { return fd_.Get(); }
  bool Send(std::span<const std::uint8_t> datagram) override {
    return Sent(send(fd_.Get(), datagram.data(), datagram.size(), MSG_NOSIGNAL));
  }
  bool SendTo(Address to, std::uint16_t port, std::span<const std::uint8_t> datagram) override {
    const auto peer = SocketAddress(to, port);
    return Sent(sendto(fd_.Get(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                       reinterpret_cast<const sockaddr*>(&peer), sizeof peer));
  }
  Receipt Receive(std::vector<std::uint8_t>& buffer, Address& from) override {
    sockaddr_in sender{};
    socklen_t size = sizeof sender;
    const ssize_t length = recvfrom(fd_.Get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                    reinterpret_cast<sockaddr*>(&sender), &size);
    if (length >= 0) {
      buffer.resize(static_cast<std::size_t>(length));
      from = ntohl(sender.sin_addr.s_addr);
      return Receipt::kDatagram;
    }
    // An ICMP error for an earlier datagram: only "port unreachable" says
    // the host will not answer; the others may pass.
    switch (errno) {
      case EAGAIN:
      case EINTR:
      case EHOSTUNREACH:
      case ENETUNREACH:
      case EHOSTDOWN:
        return Receipt::kNothing;
      default:
        return Receipt::kRefused;
    }
  }

 private:
  FileDescriptor fd_;
};

FileDescriptor NewSocket() {
  return FileDescriptor(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

class PosixDatagramNetwork : public DatagramNetwork {
 public:
  std::unique_ptr<DatagramSocket> Connect(Address address, std::uint16_t port) override {
    FileDescriptor fd = NewSocket();
    const auto peer = SocketAddress(address, port);
    if (!fd.Valid() ||
        connect(fd.Get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
      return nullptr;
    }
    return std::make_unique<PosixDatagramSocket>(std::move(fd));
  }

  std::unique_ptr<DatagramSocket> OpenMulticast(Address local) override {
    FileDescriptor fd = NewSocket();
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
    return std::make_unique<PosixDatagramSocket>(std::move(fd));
  }
};

}  // namespace

std::unique_ptr<DatagramNetwork> MakeDatagramNetwork() {
  return std::make_unique<PosixDatagramNetwork>();
}

}  // namespace hostsweep::controller
