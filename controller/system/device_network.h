// The sockets the device questions need beside the name queries' datagrams,
// one half per platform: a datagram socket that multicasts out of one
// interface only (bound to its address, TTL 1, so nothing leaves the link)
// and hears the unicast answers; and a TCP connection that sends one request
// and reads its answer, never blocking.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "controller/base/address.h"
#include "controller/system/udp_network.h"

namespace hostsweep::controller {

class LinkMulticastSocket {
 public:
  virtual ~LinkMulticastSocket() = default;
  // False when the datagram cannot be sent and will not be.
  virtual bool Send(Address group, std::uint16_t port, std::span<const std::uint8_t> datagram) = 0;
  // Reads one waiting datagram without blocking, and who sent it.
  virtual Receipt Receive(std::vector<std::uint8_t>& buffer, Address& from) = 0;
};

enum class StreamState {
  kOpen,    // more may come
  kClosed,  // the peer has closed: everything it sent is read
  kFailed,  // refused, reset or unreachable
};

class TcpExchange {
 public:
  virtual ~TcpExchange() = default;
  // Sends what the connection takes of the request, then appends what has
  // come to `into`, never growing it past `most` bytes.
  virtual StreamState Pump(std::string& into, std::size_t most) = 0;
};

class DeviceNetwork {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~DeviceNetwork() = default;
  // Bound to `local`, an interface's own address; nullptr when the system refuses.
  virtual std::unique_ptr<LinkMulticastSocket> OpenMulticast(Address local) = 0;
  // Starts connecting; the request goes as soon as the connection takes it.
  // nullptr when the system has no socket to give.
  virtual std::unique_ptr<TcpExchange> Connect(Address address, std::uint16_t port,
                                               std::string request) = 0;
  // Waits until one of them has something to read (or an exchange can send
  // the rest of its request), at most `timeout`.
  virtual void Wait(const std::vector<LinkMulticastSocket*>& sockets,
                    const std::vector<TcpExchange*>& exchanges,
                    std::chrono::milliseconds timeout) = 0;
  [[nodiscard]] virtual Clock::time_point Now() const { return Clock::now(); }
};

// The platform's sockets.
std::unique_ptr<DeviceNetwork> MakeDeviceNetwork();

}  // namespace hostsweep::controller
