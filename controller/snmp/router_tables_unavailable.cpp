// The Windows build has no net-snmp: --snmp is refused.
#include "controller/base/build_parts.h"
#include "controller/snmp/router_tables.h"

namespace hostsweep::controller {

// NOLINTNEXTLINE(performance-unnecessary-value-param): the other build's signature
RouterTables::RouterTables(std::vector<std::string> /*agents*/, SnmpAuth /*auth*/) {
  RefuseNotBuilt("--snmp");
}

RouterNeighbours RouterTables::Read() const { return {}; }

std::function<RouterNeighbours()> ReadBeside(const RouterTables& /*routers*/) {
  return [] { return RouterNeighbours{}; };
}

}  // namespace hostsweep::controller
