#include "controller/system/files.h"

#include "controller/base/errors.h"
#include "controller/system/win/program_folder.h"

namespace hostsweep::controller {

std::filesystem::path VendorRegistryFolder() {
  try {
    return ProgramFolder() / "ieee-data";
  } catch (const SystemError&) {
    return "ieee-data";  // the warning that no registry was found names it
  }
}

std::filesystem::path DeviceRulesFile() {
  constexpr const char* kName = "device-rules.tsv";
  try {
    return ProgramFolder() / kName;
  } catch (const SystemError&) {
    return kName;
  }
}

}  // namespace hostsweep::controller
