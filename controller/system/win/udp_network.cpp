// Winsock 2 datagram sockets for the name queries. Each socket sends from an
// ephemeral port, so the system's own NetBIOS service holding port 137 does
// not matter.
#include "controller/system/udp_network.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "controller/system/win/winsock_session.h"

namespace hostsweep::controller {
namespace {

class WinUdpSocket : public UdpSocket {
 public:
  explicit WinUdpSocket(SOCKET socket) : socket_(socket) {}
  WinUdpSocket(const WinUdpSocket&) = delete;
  WinUdpSocket& operator=(const WinUdpSocket&) = delete;
  ~WinUdpSocket() override { ::closesocket(socket_); }

  bool Send(std::span<const std::uint8_t> datagram) override {
    return ::send(socket_, reinterpret_cast<const char*>(datagram.data()),
                  static_cast<int>(datagram.size()), 0) != SOCKET_ERROR ||
           ::WSAGetLastError() == WSAEWOULDBLOCK;
  }
  Receipt Receive(std::vector<std::uint8_t>& buffer) override {
    const int length =
        ::recv(socket_, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
    if (length != SOCKET_ERROR) {
      buffer.resize(static_cast<std::size_t>(length));
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
  [[nodiscard]] SOCKET Get() const { return socket_; }

 private:
  SOCKET socket_;
};

class WinUdpNetwork : public UdpNetwork {
 public:
  std::unique_ptr<UdpSocket> Open(Address address, std::uint16_t port) override {
    const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket == INVALID_SOCKET) {
      return nullptr;
    }
    auto owned = std::make_unique<WinUdpSocket>(socket);
    u_long nonBlocking = 1;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = ::htons(port);
    peer.sin_addr.s_addr = ::htonl(address);
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0 ||
        ::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
      return nullptr;
    }
    return owned;
  }

  void Wait(const std::vector<UdpSocket*>& sockets, std::chrono::milliseconds timeout) override {
    std::vector<WSAPOLLFD> entries;
    entries.reserve(sockets.size());
    for (const UdpSocket* socket : sockets) {
      entries.push_back({static_cast<const WinUdpSocket*>(socket)->Get(), POLLRDNORM, 0});
    }
    ::WSAPoll(entries.data(), static_cast<ULONG>(entries.size()),
              static_cast<INT>(timeout.count()));
  }

 private:
  WinsockSession winsock_;
};

}  // namespace

std::unique_ptr<UdpNetwork> MakeUdpNetwork() { return std::make_unique<WinUdpNetwork>(); }

}  // namespace hostsweep::controller
