// Winsock 2 datagram sockets for the askers. Each socket sends from an
// ephemeral port, so the system's own NetBIOS service holding port 137 does
// not matter.
#include "controller/system/datagram_network.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <utility>

#include "controller/system/win/socket_address.h"
#include "controller/system/win/winsock_session.h"

namespace hostsweep::controller {
namespace {

bool Sent(int result) { return result != SOCKET_ERROR || ::WSAGetLastError() == WSAEWOULDBLOCK; }

class WinDatagramSocket : public DatagramSocket {
 public:
  // Non-blocking, or not valid.
  WinDatagramSocket() : socket_(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) {
    u_long nonBlocking = 1;
    if (socket_ != INVALID_SOCKET && ::ioctlsocket(socket_, FIONBIO, &nonBlocking) != 0) {
      ::closesocket(std::exchange(socket_, INVALID_SOCKET));
    }
  }
  WinDatagramSocket(const WinDatagramSocket&) = delete;
  WinDatagramSocket& operator=(const WinDatagramSocket&) = delete;
  ~WinDatagramSocket() override {
    if (socket_ != INVALID_SOCKET) {
      ::closesocket(socket_);
    }
  }

  bool Connect(Address address, std::uint16_t port) {
    const auto peer = SocketAddress(address, port);
    return socket_ != INVALID_SOCKET &&
           ::connect(socket_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
  }
  bool BindForMulticast(Address local) {
    const auto bound = SocketAddress(local, 0);
    in_addr interface {};
    interface.s_addr = ::htonl(local);
    const DWORD timeToLive = 1;
    const DWORD loop = 0;  // our own search is not an answer
    return socket_ != INVALID_SOCKET &&
           ::bind(socket_, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) == 0 &&
           ::setsockopt(socket_, IPPROTO_IP, IP_MULTICAST_IF,
                        reinterpret_cast<const char*>(&interface), sizeof interface) == 0 &&
           ::setsockopt(socket_, IPPROTO_IP, IP_MULTICAST_TTL,
                        reinterpret_cast<const char*>(&timeToLive), sizeof timeToLive) == 0 &&
           ::setsockopt(socket_, IPPROTO_IP, IP_MULTICAST_LOOP,
                        reinterpret_cast<const char*>(&loop), sizeof loop) == 0;
  }

  [[nodiscard]] Descriptor Handle() const override { return socket_; }
  bool Send(std::span<const std::uint8_t> datagram) override {
    return Sent(::send(socket_, reinterpret_cast<const char*>(datagram.data()),
                       static_cast<int>(datagram.size()), 0));
  }
  bool SendTo(Address to, std::uint16_t port, std::span<const std::uint8_t> datagram) override {
    const auto peer = SocketAddress(to, port);
    return Sent(::sendto(socket_, reinterpret_cast<const char*>(datagram.data()),
                         static_cast<int>(datagram.size()), 0,
                         reinterpret_cast<const sockaddr*>(&peer), sizeof peer));
  }
  Receipt Receive(std::vector<std::uint8_t>& buffer, Address& from) override {
    sockaddr_in sender{};
    int size = sizeof sender;
    const int length =
        ::recvfrom(socket_, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()),
                   0, reinterpret_cast<sockaddr*>(&sender), &size);
    if (length != SOCKET_ERROR) {
      buffer.resize(static_cast<std::size_t>(length));
      from = ::ntohl(sender.sin_addr.s_addr);
      return Receipt::kDatagram;
    }
    // WSAECONNRESET is the host's "port unreachable" for an earlier datagram.
    switch (::WSAGetLastError()) {
      case WSAEWOULDBLOCK:
      case WSAEMSGSIZE:
      case WSAEHOSTUNREACH:
      case WSAENETUNREACH:
      case WSAENETRESET:
        return Receipt::kNothing;
      default:
        return Receipt::kRefused;
    }
  }

 private:
  SOCKET socket_;
};

class WinDatagramNetwork : public DatagramNetwork {
 public:
  std::unique_ptr<DatagramSocket> Connect(Address address, std::uint16_t port) override {
    auto socket = std::make_unique<WinDatagramSocket>();
    return socket->Connect(address, port) ? std::move(socket) : nullptr;
  }
  std::unique_ptr<DatagramSocket> OpenMulticast(Address local) override {
    auto socket = std::make_unique<WinDatagramSocket>();
    return socket->BindForMulticast(local) ? std::move(socket) : nullptr;
  }

 private:
  WinsockSession winsock_;
};

}  // namespace

std::unique_ptr<DatagramNetwork> MakeDatagramNetwork() {
  return std::make_unique<WinDatagramNetwork>();
}

}  // namespace hostsweep::controller
