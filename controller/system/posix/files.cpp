#include "controller/system/files.h"

namespace hostsweep::controller {

std::filesystem::path VendorRegistryFolder() { return "/usr/share/ieee-data"; }

}  // namespace hostsweep::controller
