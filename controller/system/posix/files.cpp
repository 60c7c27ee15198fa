#include "controller/system/files.h"

namespace hostsweep::controller {

std::filesystem::path VendorRegistryFolder() { return "/usr/share/ieee-data"; }

std::filesystem::path DeviceRulesFile() {
  constexpr const char* kName = "device-rules.tsv";
  std::error_code error;
  const auto folder = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
  if (error) {
    return kName;  // the warning that the rules are missing names it
  }
  if (std::filesystem::exists(folder / kName, error)) {
    return folder / kName;
  }
  return (folder / HOSTSWEEP_DATA_FROM_CONTROLLER / kName).lexically_normal();
}

}  // namespace hostsweep::controller
