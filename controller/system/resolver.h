// Reverse lookups through the system resolver (hosts file, DNS, whatever the
// system is set up to ask), as a worker makes them, for the hosts no worker
// named. One half per platform.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "controller/base/address.h"
#include "controller/system/event_loop.h"

namespace hostsweep::controller {

class Resolver {
 public:
  // A name found, or empty, for what was asked under `tag`.
  using Answer = std::pair<std::size_t, std::string>;

  virtual ~Resolver() = default;
  // Starts the lookup of `address`'s name.
  virtual void Ask(std::size_t tag, Address address) = 0;
  // True while an asked address has no answer taken yet.
  [[nodiscard]] virtual bool Busy() const = 0;
  // The answers that came, waiting at most `timeout` for one.
  virtual std::vector<Answer> Take(std::chrono::milliseconds timeout) = 0;
};

// The platform's resolver. A lookup may wait seconds for a server: on Linux
// it runs off the sweep's loop, on threads of its own. An answer ends the
// turn of `loop` it comes in, for the sweep to take it.
std::unique_ptr<Resolver> MakeResolver(EventLoop& loop);

}  // namespace hostsweep::controller
