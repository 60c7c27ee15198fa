#include "controller/system/replaced_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace hostsweep::controller {

// Who may read a file is an ACL on Windows: the new file takes its folder's.
ReplaceFailure ReplaceWholeFile(const std::filesystem::path& path, std::string_view bytes) {
  auto temporary = path;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      return {"create", temporary.string() + ": " + std::strerror(errno)};
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return {"write", temporary.string() + ": cannot write"};
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return {"replace", path.string() + ": " + error.message()};
  }
  return {};
}

}  // namespace hostsweep::controller
