// The Windows build has no SQLite: what needs the state database is refused.
#include "controller/base/errors.h"
#include "controller/state/state_store.h"

namespace hostsweep::controller {
namespace {

constexpr const char* kNoDatabase =
    "--state and --history need the Linux build (this one has no SQLite); "
    "--watch and --compare work without them";

}  // namespace

std::unique_ptr<StateStore> OpenStateStore(const std::filesystem::path& /*path*/, int /*goneAfter*/,
                                           const VendorOf& /*vendorOf*/,
                                           const std::vector<std::string>& /*sinks*/) {
  throw UsageError(kNoDatabase);
}

std::size_t WriteHistory(const std::filesystem::path& /*path*/, const std::string& /*who*/,
                         Format /*format*/, const Inventory* /*inventory*/, std::ostream& /*out*/,
                         TimeZone /*tableZone*/) {
  throw UsageError(kNoDatabase);
}

}  // namespace hostsweep::controller
