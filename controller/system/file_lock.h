// A file held by one process at a time: two watches of one state database
// would each record the other's hosts as gone.
#pragma once

#include <filesystem>
#include <memory>

namespace hostsweep::controller {

// An advisory lock (flock) on the file, held while the object lives; the
// system drops it when the process ends, however it ends (kill -9 too).
// Linux build only, as the state database that needs it.
class FileLock {
 public:
  // None when another process holds it. Throws SystemError when the file
  // cannot be opened.
  static std::unique_ptr<FileLock> TryLock(const std::filesystem::path& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  FileLock(FileLock&&) = delete;
  FileLock& operator=(FileLock&&) = delete;

 private:
  explicit FileLock(int descriptor) : descriptor_(descriptor) {}
  int descriptor_;
};

}  // namespace hostsweep::controller
