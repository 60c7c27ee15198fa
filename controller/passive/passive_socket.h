// The packet socket the watch listens on between sweeps: one platform half
// each (posix/: a packet socket with a kernel filter; win/: none).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controller/system/event_loop.h"

namespace hostsweep::controller {

class PassiveSocket {
 public:
  virtual ~PassiveSocket() = default;
  // What the event loop watches for the frames heard.
  [[nodiscard]] virtual Descriptor Handle() const = 0;
  // The next frame another device sent, whole, without waiting; nothing when
  // none is waiting.
  virtual std::optional<std::vector<std::uint8_t>> Receive() = 0;
};

// A socket that hears, on every interface, the frames a device sends of its
// own accord (ARP, DHCP client messages, mDNS, SSDP) and no others; nothing,
// with `whyNot` saying why, where the system refuses one. Opened while the
// capabilities are held.
std::unique_ptr<PassiveSocket> OpenPassiveSocket(std::string& whyNot);

}  // namespace hostsweep::controller
