// The packet socket the link pass asks on: one platform half each.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "controller/base/address.h"
#include "controller/base/mac_address.h"
#include "controller/system/event_loop.h"

namespace hostsweep::controller {

// An interface that speaks ARP (Ethernet, up, not point-to-point), with one
// of its IPv4 networks.
struct LinkInterface {
  int index = 0;
  std::string name;
  MacAddress mac{};
  Address address = 0;
  int prefixLength = 0;
};

struct LinkFrame {
  int interfaceIndex = 0;
  std::vector<std::uint8_t> bytes;
};

// The packet socket; one platform half each.
class LinkSocket {
 public:
  virtual ~LinkSocket() = default;
  // The interfaces it can send on.
  virtual std::vector<LinkInterface> Interfaces() = 0;
  // Starts taking in ARP replies; until then it holds none. Throws SystemError.
  virtual void Listen() = 0;
  // False when the system cannot take the frame now (full buffers).
  virtual bool Send(int interfaceIndex, std::span<const std::uint8_t> frame) = 0;
  // What the event loop watches for the frames heard.
  [[nodiscard]] virtual Descriptor Handle() const = 0;
  // The next frame heard, without waiting; nothing when none is waiting (or
  // the next one is not an answer: one the system sent itself).
  virtual std::optional<LinkFrame> Receive() = 0;
};

// The packet socket the link pass sends its ARP requests on; nothing, with
// `whyNot` saying why, where the system refuses one (no CAP_NET_RAW).
std::unique_ptr<LinkSocket> OpenLinkSocket(std::string& whyNot);

}  // namespace hostsweep::controller
