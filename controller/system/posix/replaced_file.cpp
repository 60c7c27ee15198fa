#include "controller/system/replaced_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hostsweep::controller {

ReplaceFailure ReplaceWholeFile(const std::filesystem::path& path, std::string_view bytes) {
  // A hidden name without .prom, which the textfile collector never reads;
  // mkstemp creates it anew, so no symlink planted there is followed.
  std::string temporary =
      (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    return {"create", path.string() + ": " + std::strerror(errno)};
  }
  // Said before anything else can change errno.
  const auto fail = [&temporary](const char* step, int open, const std::string& shown) {
    ReplaceFailure failure{step, shown + ": " + std::strerror(errno)};
    if (open >= 0) {
      ::close(open);
    }
    ::unlink(temporary.c_str());
    return failure;
  };
  if (fchmod(fd, 0644) != 0) {
    return fail("create", fd, temporary);
  }
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno != EINTR) {
      return fail("write", fd, temporary);
    }
    bytes.remove_prefix(written < 0 ? 0 : static_cast<std::size_t>(written));
  }
  if (::close(fd) != 0) {
    return fail("write", -1, temporary);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    return fail("replace", -1, path.string());
  }
  return {};
}

}  // namespace hostsweep::controller
