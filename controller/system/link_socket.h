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
// of its IPv4 networks; or a VLAN reached through such an interface, a trunk
// port, with the network the VLAN holds.
struct LinkInterface {
  int index = 0;
  std::string name;
  MacAddress mac{};
  // This machine's address there; on a VLAN, which holds none of ours, the
  // network's own address.
  Address address = 0;
  int prefixLength = 0;
  std::uint16_t vlan = 0;  // the 802.1Q VLAN ID its frames carry; 0: untagged
};

struct LinkFrame {
  int interfaceIndex = 0;
  std::vector<std::uint8_t> bytes;
  // The VLAN ID of the 802.1Q tag the kernel took off as the frame came in
  // (then not in `bytes`); 0 for none.
  std::uint16_t strippedVlan = 0;
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
  // Whether the system has a route to `address`: where echo requests can go
  // (nothing is sent to find out).
  [[nodiscard]] virtual bool Routed(Address address) const = 0;
  // The next frame heard, without waiting; nothing when none is waiting (or
  // the next one is not an answer: one the system sent itself).
  virtual std::optional<LinkFrame> Receive() = 0;
};

// The Ethernet interface `name` as a trunk port, without a network: VLAN
// links send on it. Throws UsageError where there is none of that name, and
// on Windows, which has no packet socket to tag frames on.
LinkInterface TrunkPort(const std::string& name);

// The packet socket the link pass sends its ARP requests on; nothing, with
// `whyNot` saying why, where the system refuses one (no CAP_NET_RAW).
std::unique_ptr<LinkSocket> OpenLinkSocket(std::string& whyNot);

}  // namespace hostsweep::controller
