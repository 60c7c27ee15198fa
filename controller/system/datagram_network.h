// The one datagram socket every asker uses, one half per platform: either
// connected to one host's port, so that the system drops datagrams from
// anyone else and reports the host's "port unreachable", or multicasting out
// of one interface only (bound to its address, TTL 1, so nothing leaves the
// link) and hearing the unicast answers. Its descriptor registers with the
// event loop, which alone waits.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "controller/base/address.h"
#include "controller/system/event_loop.h"

namespace hostsweep::controller {

enum class Receipt {
  kDatagram,  // one datagram was read into the buffer
  kNothing,   // nothing waiting
  kRefused,   // the host said its port is closed, or the socket failed for good
};

class DatagramSocket {
 public:
  virtual ~DatagramSocket() = default;
  // What the event loop watches for the datagrams that come.
  [[nodiscard]] virtual Descriptor Handle() const = 0;
  // To the connected host, or to `to`:`port` (a multicast socket's group).
  // False when the datagram cannot be sent and will not be.
  virtual bool Send(std::span<const std::uint8_t> datagram) = 0;
  virtual bool SendTo(Address to, std::uint16_t port, std::span<const std::uint8_t> datagram) = 0;
  // Reads one waiting datagram without blocking, and who sent it; `buffer`
  // is resized to it.
  virtual Receipt Receive(std::vector<std::uint8_t>& buffer, Address& from) = 0;
};

class DatagramNetwork {
 public:
  virtual ~DatagramNetwork() = default;
  // A socket connected to `address`:`port`; nullptr when the system has none
  // to give (out of descriptors).
  virtual std::unique_ptr<DatagramSocket> Connect(Address address, std::uint16_t port) = 0;
  // Bound to `local`, an interface's own address; nullptr when the system refuses.
  virtual std::unique_ptr<DatagramSocket> OpenMulticast(Address local) = 0;
};

// The platform's sockets. Throws SystemError when it has none at all.
std::unique_ptr<DatagramNetwork> MakeDatagramNetwork();

}  // namespace hostsweep::controller
