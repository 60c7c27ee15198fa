// Files the controller keeps or reads where the system keeps them: one
// platform half each.
#pragma once

#include <filesystem>

namespace hostsweep::controller {

// Where the IEEE registries of adapter makers are (as ieee-data ships them).
std::filesystem::path VendorRegistryFolder();

}  // namespace hostsweep::controller
