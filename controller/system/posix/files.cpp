#include "controller/system/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/posix/file_descriptor.h"
#include "controller/base/errors.h"

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
void ReplaceFileWhole(const std::filesystem::path& path, std::string_view bytes) {
  const auto fail = [&path](const char* step) {
    throw SystemError("cannot " + std::string(step) + " " + path.string() + ": " +
                      std::strerror(errno));
  };
  std::string temporary = path.string() + ".XXXXXX";
  const FileDescriptor file(mkostemp(temporary.data(), O_CLOEXEC));
  if (!file.Valid()) {
    fail("write a file beside");
  }
  bool written = true;
  for (std::string_view rest = bytes; !rest.empty() && written;) {
    const ssize_t size = write(file.Get(), rest.data(), rest.size());
    written = size > 0 || (size < 0 && errno == EINTR);
    rest.remove_prefix(size > 0 ? static_cast<std::size_t>(size) : 0);
  }
  if (!written || fsync(file.Get()) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
    const int cause = errno;
    unlink(temporary.c_str());
    errno = cause;
    fail("write");
  }
  // The rename itself lasts once the folder is on disk too.
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  const FileDescriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Valid()) {
    fsync(directory.Get());
  }
}

}  // namespace hostsweep::controller
