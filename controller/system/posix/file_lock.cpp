#include "controller/system/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "controller/base/errors.h"

namespace hostsweep::controller {

std::unique_ptr<FileLock> FileLock::TryLock(const std::filesystem::path& path) {
  // flock, not fcntl: an fcntl lock would be dropped as soon as SQLite closed
  // any descriptor of the same file, and it would clash with SQLite's own.
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (descriptor < 0) {
    throw SystemError(path.string() + ": " + std::strerror(errno));
  }
  if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(descriptor);
    if (error == EWOULDBLOCK) {
      return nullptr;
    }
    throw SystemError(path.string() + ": cannot lock: " + std::strerror(error));
  }
  return std::unique_ptr<FileLock>(new FileLock(descriptor));
}

FileLock::~FileLock() { close(descriptor_); }

}  // namespace hostsweep::controller
