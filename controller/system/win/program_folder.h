// Where hostsweep.exe is: its worker and the makers' registries are
// installed beside it.
#pragma once

#include <filesystem>

namespace hostsweep::controller {

// Throws SystemError.
std::filesystem::path ProgramFolder();

}  // namespace hostsweep::controller
