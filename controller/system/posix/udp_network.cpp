#include "controller/system/udp_network.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "common/posix/file_descriptor.h"

namespace hostsweep::controller {
namespace {

class PosixUdpSocket : public UdpSocket {
 public:
  explicit PosixUdpSocket(FileDescriptor fd) : fd_(std::move(fd)) {}

  bool Send(std::span<const std::uint8_t> datagram) override {
    return send(fd_.Get(), datagram.data(), datagram.size(), MSG_NOSIGNAL) >= 0 ||
           errno == EAGAIN || errno == EINTR;
  }
  Receipt Receive(std::vector<std::uint8_t>& buffer) override {
    const ssize_t length = recv(fd_.Get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (length >= 0) {
      buffer.resize(static_cast<std::size_t>(length));
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
  [[nodiscard]] int Get() const { return fd_.Get(); }

 private:
  FileDescriptor fd_;
};

class PosixUdpNetwork : public UdpNetwork {
 public:
  std::unique_ptr<UdpSocket> Open(Address address, std::uint16_t port) override {
    FileDescriptor fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(address);
    if (!fd.Valid() ||
        connect(fd.Get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
      return nullptr;
    }
    return std::make_unique<PosixUdpSocket>(std::move(fd));
  }

  void Wait(const std::vector<UdpSocket*>& sockets, std::chrono::milliseconds timeout) override {
    std::vector<pollfd> entries;
    entries.reserve(sockets.size());
    for (const UdpSocket* socket : sockets) {
      entries.push_back({static_cast<const PosixUdpSocket*>(socket)->Get(), POLLIN, 0});
    }
    poll(entries.data(), entries.size(), static_cast<int>(timeout.count()));
  }
};

}  // namespace

std::unique_ptr<UdpNetwork> MakeUdpNetwork() { return std::make_unique<PosixUdpNetwork>(); }

}  // namespace hostsweep::controller
