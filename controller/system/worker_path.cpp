#include "controller/system/worker_path.h"

namespace hostsweep::controller {

std::filesystem::path FindWorker(const std::filesystem::path& controllerFolder,
                                 const std::filesystem::path& installedFolder,
                                 const std::filesystem::path& fileName) {
  auto beside = controllerFolder / fileName;
  std::error_code error;
  if (std::filesystem::exists(beside, error)) {
    return beside;
  }
  // Not there either: the path still names where it was looked for.
  return (controllerFolder / installedFolder / fileName).lexically_normal();
}

}  // namespace hostsweep::controller
