// Routers' neighbour tables read over SNMP (--snmp), once per sweep: the
// MACs of the hosts behind them, which no packet of ours can show. Each
// agent costs a bounded time, answering or not, and is read as hostile.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "controller/base/address.h"
#include "controller/base/mac_address.h"
#include "controller/snmp/snmp_auth.h"

namespace hostsweep::controller {

// Each request waits 1 s for an answer and is sent once more; an agent's
// walk gives up past kSnmpWalkLimit, and takes at most kMostSnmpRows rows.
inline constexpr int kSnmpTimeoutMicroseconds = 1'000'000;
inline constexpr int kSnmpRetries = 1;
inline constexpr int kSnmpWalkLimitSeconds = 3;
inline constexpr std::size_t kMostSnmpRows = 65536;

// What one reading of every agent gave: each address's MAC (the first
// agent's where two list one address), and what went wrong, one line each.
struct RouterNeighbours {
  std::unordered_map<Address, MacAddress> macs{};
  std::vector<std::string> problems{};
};

class RouterTables {
 public:
  // `agents`: host names or addresses, with ":PORT" where not 161. Throws
  // UsageError where this build has no SNMP (Windows).
  RouterTables(std::vector<std::string> agents, SnmpAuth auth);
  // Safe on another thread than the one that made it, one reading at a time.
  [[nodiscard]] RouterNeighbours Read() const;

 private:
  std::vector<std::string> agents_;
  SnmpAuth auth_;
};

// Starts `routers`' reading on a thread of its own, so that a slow agent
// costs only what outlasts the sweep; the function returned waits for it.
std::function<RouterNeighbours()> ReadBeside(const RouterTables& routers);

}  // namespace hostsweep::controller
