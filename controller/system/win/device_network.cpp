// Winsock 2 sockets for the device questions: the SSDP search out of one
// interface and the description fetch.
#include "controller/system/device_network.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <utility>

#include "controller/system/win/winsock_session.h"

namespace hostsweep::controller {
namespace {

constexpr std::size_t kReadSize = 4096;

sockaddr_in SocketAddress(Address address, std::uint16_t port) {
  sockaddr_in socketAddress{};
  socketAddress.sin_family = AF_INET;
  socketAddress.sin_port = ::htons(port);
  socketAddress.sin_addr.s_addr = ::htonl(address);
  return socketAddress;
}

// A non-blocking socket, closed with its owner.
class WinSocket {
 public:
  explicit WinSocket(int type) : socket_(::socket(AF_INET, type, 0)) {
    u_long nonBlocking = 1;
    if (socket_ != INVALID_SOCKET && ::ioctlsocket(socket_, FIONBIO, &nonBlocking) != 0) {
      ::closesocket(std::exchange(socket_, INVALID_SOCKET));
    }
  }
  WinSocket(const WinSocket&) = delete;
  WinSocket& operator=(const WinSocket&) = delete;
  ~WinSocket() {
    if (socket_ != INVALID_SOCKET) {
      ::closesocket(socket_);
    }
  }
  [[nodiscard]] SOCKET Get() const { return socket_; }

 private:
  SOCKET socket_;
};

class WinMulticastSocket : public LinkMulticastSocket {
 public:
  WinMulticastSocket() : socket_(SOCK_DGRAM) {}

  bool Open(Address local) {
    const auto bound = SocketAddress(local, 0);
    in_addr interface {};
    interface.s_addr = ::htonl(local);
    const DWORD timeToLive = 1;
    const DWORD loop = 0;
    return socket_.Get() != INVALID_SOCKET &&
           ::bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) == 0 &&
           ::setsockopt(socket_.Get(), IPPROTO_IP, IP_MULTICAST_IF,
                        reinterpret_cast<const char*>(&interface), sizeof interface) == 0 &&
           ::setsockopt(socket_.Get(), IPPROTO_IP, IP_MULTICAST_TTL,
                        reinterpret_cast<const char*>(&timeToLive), sizeof timeToLive) == 0 &&
           ::setsockopt(socket_.Get(), IPPROTO_IP, IP_MULTICAST_LOOP,
                        reinterpret_cast<const char*>(&loop), sizeof loop) == 0;
  }
  bool Send(Address group, std::uint16_t port, std::span<const std::uint8_t> datagram) override {
    const auto to = SocketAddress(group, port);
    return ::sendto(socket_.Get(), reinterpret_cast<const char*>(datagram.data()),
                    static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                    sizeof to) != SOCKET_ERROR ||
           ::WSAGetLastError() == WSAEWOULDBLOCK;
  }
  Receipt Receive(std::vector<std::uint8_t>& buffer, Address& from) override {
    sockaddr_in sender{};
    int size = sizeof sender;
    const int length =
        ::recvfrom(socket_.Get(), reinterpret_cast<char*>(buffer.data()),
                   static_cast<int>(buffer.size()), 0, reinterpret_cast<sockaddr*>(&sender), &size);
    if (length == SOCKET_ERROR) {
      const int error = ::WSAGetLastError();
      return error == WSAEWOULDBLOCK || error == WSAEMSGSIZE || error == WSAECONNRESET
                 ? Receipt::kNothing
                 : Receipt::kRefused;
    }
    buffer.resize(static_cast<std::size_t>(length));
    from = ::ntohl(sender.sin_addr.s_addr);
    return Receipt::kDatagram;
  }
  [[nodiscard]] SOCKET Get() const { return socket_.Get(); }

 private:
  WinSocket socket_;
};

class WinTcpExchange : public TcpExchange {
 public:
  explicit WinTcpExchange(std::string request)
      : socket_(SOCK_STREAM), unsent_(std::move(request)) {}

  bool Connect(Address address, std::uint16_t port) {
    const auto peer = SocketAddress(address, port);
    return socket_.Get() != INVALID_SOCKET &&
           (::connect(socket_.Get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 ||
            ::WSAGetLastError() == WSAEWOULDBLOCK);
  }
  StreamState Pump(std::string& into, std::size_t most) override {
    if (!unsent_.empty()) {
      // While connecting, send says WSAENOTCONN or WSAEWOULDBLOCK.
      const int sent = ::send(socket_.Get(), unsent_.data(), static_cast<int>(unsent_.size()), 0);
      if (sent == SOCKET_ERROR && !Waiting(::WSAGetLastError())) {
        return StreamState::kFailed;
      }
      unsent_.erase(0, sent > 0 ? static_cast<std::size_t>(sent) : 0);
    }
    while (into.size() < most) {
      const std::size_t old = into.size();
      into.resize(std::min(most, old + kReadSize));
      const int got =
          ::recv(socket_.Get(), into.data() + old, static_cast<int>(into.size() - old), 0);
      into.resize(old + (got > 0 ? static_cast<std::size_t>(got) : 0));
      if (got == 0) {
        return StreamState::kClosed;
      }
      if (got == SOCKET_ERROR) {
        return Waiting(::WSAGetLastError()) ? StreamState::kOpen : StreamState::kFailed;
      }
    }
    return StreamState::kOpen;
  }
  [[nodiscard]] WSAPOLLFD Entry() const {
    return {socket_.Get(), static_cast<SHORT>(POLLRDNORM | (unsent_.empty() ? 0 : POLLWRNORM)), 0};
  }

 private:
  static bool Waiting(int error) { return error == WSAEWOULDBLOCK || error == WSAENOTCONN; }

  WinSocket socket_;
  std::string unsent_;
};

class WinDeviceNetwork : public DeviceNetwork {
 public:
  std::unique_ptr<LinkMulticastSocket> OpenMulticast(Address local) override {
    auto socket = std::make_unique<WinMulticastSocket>();
    return socket->Open(local) ? std::move(socket) : nullptr;
  }
  std::unique_ptr<TcpExchange> Connect(Address address, std::uint16_t port,
                                       std::string request) override {
    auto exchange = std::make_unique<WinTcpExchange>(std::move(request));
    return exchange->Connect(address, port) ? std::move(exchange) : nullptr;
  }
  void Wait(const std::vector<LinkMulticastSocket*>& sockets,
            const std::vector<TcpExchange*>& exchanges,
            std::chrono::milliseconds timeout) override {
    std::vector<WSAPOLLFD> entries;
    for (const auto* socket : sockets) {
      entries.push_back({static_cast<const WinMulticastSocket*>(socket)->Get(), POLLRDNORM, 0});
    }
    for (const auto* exchange : exchanges) {
      entries.push_back(static_cast<const WinTcpExchange*>(exchange)->Entry());
    }
    if (entries.empty()) {
      ::Sleep(static_cast<DWORD>(timeout.count()));
      return;
    }
    ::WSAPoll(entries.data(), static_cast<ULONG>(entries.size()),
              static_cast<INT>(timeout.count()));
  }

 private:
  WinsockSession winsock_;
};

}  // namespace

std::unique_ptr<DeviceNetwork> MakeDeviceNetwork() { return std::make_unique<WinDeviceNetwork>(); }

}  // namespace hostsweep::controller
