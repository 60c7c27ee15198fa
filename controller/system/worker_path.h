// Where the worker program is, seen from the running controller.
#pragma once

#include <filesystem>

namespace hostsweep::controller {

// Beside the controller when it is there (a build tree, a Windows folder),
// else in `installedFolder`, relative to the controller's folder
// (libexec/hostsweep/ seen from bin/).
std::filesystem::path FindWorker(const std::filesystem::path& controllerFolder,
                                 const std::filesystem::path& installedFolder,
                                 const std::filesystem::path& fileName);

}  // namespace hostsweep::controller
