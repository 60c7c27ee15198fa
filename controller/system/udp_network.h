// The datagram sockets the name queries need, one half per platform: a
// socket connected to one host's port, so that the system drops datagrams
// from anyone else and reports the host's "port unreachable".
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "controller/base/address.h"

namespace hostsweep::controller {

enum class Receipt {
  kDatagram,  // one datagram was read into the buffer
  kNothing,   // nothing waiting
  kRefused,   // the host said its port is closed, or the socket failed for good
};

class UdpSocket {
 public:
  virtual ~UdpSocket() = default;
  // False when the datagram cannot be sent and will not be.
  virtual bool Send(std::span<const std::uint8_t> datagram) = 0;
  // Reads one waiting datagram without blocking; `buffer` is resized to it.
  virtual Receipt Receive(std::vector<std::uint8_t>& buffer) = 0;
};

class UdpNetwork {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~UdpNetwork() = default;
  // A socket connected to `address`:`port`; nullptr when the system has none
  // to give (out of descriptors).
  virtual std::unique_ptr<UdpSocket> Open(Address address, std::uint16_t port) = 0;
  // Waits until one of `sockets` (all from this network) has something to
  // read, at most `timeout`.
  virtual void Wait(const std::vector<UdpSocket*>& sockets, std::chrono::milliseconds timeout) = 0;
  [[nodiscard]] virtual Clock::time_point Now() const { return Clock::now(); }
};

// The platform's sockets. Throws SystemError when it has none at all.
std::unique_ptr<UdpNetwork> MakeUdpNetwork();

}  // namespace hostsweep::controller
