// Winsock 2 sockets for the device questions' description fetch.
#include "controller/system/tcp_network.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <utility>

#include "controller/system/win/socket_address.h"
#include "controller/system/win/winsock_session.h"

namespace hostsweep::controller {
namespace {

constexpr std::size_t kReadSize = 4096;

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
  [[nodiscard]] Descriptor Handle() const override { return socket_.Get(); }
  [[nodiscard]] bool Sending() const override { return !unsent_.empty(); }
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

 private:
  static bool Waiting(int error) { return error == WSAEWOULDBLOCK || error == WSAENOTCONN; }

  WinSocket socket_;
  std::string unsent_;
};

class WinTcpNetwork : public TcpNetwork {
 public:
  std::unique_ptr<TcpExchange> Connect(Address address, std::uint16_t port,
                                       std::string request) override {
    auto exchange = std::make_unique<WinTcpExchange>(std::move(request));
    return exchange->Connect(address, port) ? std::move(exchange) : nullptr;
  }

 private:
  WinsockSession winsock_;
};

}  // namespace

std::unique_ptr<TcpNetwork> MakeTcpNetwork() { return std::make_unique<WinTcpNetwork>(); }

}  // namespace hostsweep::controller
