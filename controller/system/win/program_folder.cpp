#include "controller/system/win/program_folder.h"

#include <windows.h>

#include <string>

#include "common/win/system_message.h"
#include "controller/base/errors.h"

namespace hostsweep::controller {

// The folder hostsweep.exe itself is in: its worker and makers' registries
// are installed beside it.
std::filesystem::path ProgramFolder() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      throw SystemError("cannot find hostsweep's own program file: " +
                        SystemMessage(::GetLastError()));
    }
    // A path that fills the buffer may have been cut short.
    if (length < path.size()) {
      path.resize(length);
      return std::filesystem::path(path).parent_path();
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace hostsweep::controller
