#include "controller/system/files.h"

#include <windows.h>

#include <fstream>
#include <string>

#include "common/win/system_message.h"
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

void ReplaceFileWhole(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::path temporary = path;
  temporary += ".new";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.flush();
    if (!file) {
      throw SystemError("cannot write " + temporary.string());
    }
  }
  if (::MoveFileExW(temporary.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
    throw SystemError("cannot replace " + path.string() + ": " + SystemMessage(::GetLastError()));
  }
}

}  // namespace hostsweep::controller
