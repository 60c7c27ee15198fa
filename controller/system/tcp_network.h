// The TCP connection the device questions need beside their datagrams, one
// half per platform: it sends one request and reads its answer, never
// blocking; its descriptor registers with the event loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "controller/base/address.h"
#include "controller/system/event_loop.h"

namespace hostsweep::controller {

enum class StreamState {
  kOpen,    // more may come
  kClosed,  // the peer has closed: everything it sent is read
  kFailed,  // refused, reset or unreachable
};

class TcpExchange {
 public:
  virtual ~TcpExchange() = default;
  // What the event loop watches: for writing too while `Sending`.
  [[nodiscard]] virtual Descriptor Handle() const = 0;
  [[nodiscard]] virtual bool Sending() const = 0;
  // Sends what the connection takes of the request, then appends what has
  // come to `into`, never growing it past `most` bytes.
  virtual StreamState Pump(std::string& into, std::size_t most) = 0;
};

class TcpNetwork {
 public:
  virtual ~TcpNetwork() = default;
  // Starts connecting; the request goes as soon as the connection takes it.
  // nullptr when the system has no socket to give.
  virtual std::unique_ptr<TcpExchange> Connect(Address address, std::uint16_t port,
                                               std::string request) = 0;
};

// The platform's sockets.
std::unique_ptr<TcpNetwork> MakeTcpNetwork();

}  // namespace hostsweep::controller
