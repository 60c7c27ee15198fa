// Files the controller keeps or reads where the system keeps them: one
// platform half each.
#pragma once

#include <filesystem>

namespace hostsweep::controller {

// Where the IEEE registries of adapter makers are (as ieee-data ships them).
std::filesystem::path VendorRegistryFolder();
// The device rules (device-rules.tsv): beside the program when they are
// there (a build tree, a Windows folder), else where the program's data is
// installed; the bare file name when the program cannot find itself.
std::filesystem::path DeviceRulesFile();

}  // namespace hostsweep::controller
