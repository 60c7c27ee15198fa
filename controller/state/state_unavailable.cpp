// The Windows build has no SQLite: what needs the state database is refused.
#include "controller/base/build_parts.h"
#include "controller/state/state_store.h"

namespace hostsweep::controller {

std::unique_ptr<StateStore> OpenStateStore(const std::filesystem::path& /*path*/, int /*goneAfter*/,
                                           const VendorOf& /*vendorOf*/,
                                           const std::vector<std::string>& /*sinks*/) {
  RefuseNotBuilt("--state");
}

std::size_t WriteHistory(const std::filesystem::path& /*path*/, const std::string& /*who*/,
                         Format /*format*/, const Inventory* /*inventory*/, std::ostream& /*out*/,
                         TimeZone /*tableZone*/) {
  RefuseNotBuilt("--history");
}

}  // namespace hostsweep::controller
