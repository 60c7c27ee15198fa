// The asker --ipv6 uses: one platform half each.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controller/base/mac_address.h"
#include "controller/system/event_loop.h"

namespace hostsweep::controller {

// One address that answered, with the MAC its neighbour entry gives it.
struct Ipv6Neighbour {
  std::string address;  // canonical (RFC 5952), link-local ones with "%zone"
  MacAddress mac{};
  bool linkLocal = false;
};

struct Ipv6Settings {
  int tries = 2;
  std::chrono::milliseconds retryAfter{500};  // between two tries
  std::chrono::milliseconds lastWait{1000};   // after the last
};

// The platform's asker: its socket is opened while the controller still has
// its capabilities, and used afterwards. It asks on the event loop beside the
// sweep, so that its wait overlaps the sweep's own.
class Ipv6Prober {
 public:
  Ipv6Prober() = default;
  virtual ~Ipv6Prober() = default;
  Ipv6Prober(const Ipv6Prober&) = delete;
  Ipv6Prober& operator=(const Ipv6Prober&) = delete;
  // Starts asking on `interfaces`; the turns of `loop` read the answers and
  // send the tries.
  virtual void Start(EventLoop& loop, std::vector<std::string> interfaces,
                     const Ipv6Settings& settings) = 0;
  // Once its search has ended: every on-link address that answered, with its
  // MAC, handed over once; nothing while it goes on. Throws SystemError.
  virtual std::optional<std::vector<Ipv6Neighbour>> Found() = 0;
};

// The raw ICMPv6 socket --ipv6 asks on; nothing, with `whyNot` saying why,
// where the system refuses one (no CAP_NET_RAW) or keeps to IPv4 (Windows).
std::unique_ptr<Ipv6Prober> OpenIpv6Prober(std::string& whyNot);

}  // namespace hostsweep::controller
