#include "controller/base/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hostsweep::controller {
namespace {

// Opening a FIFO for reading waits for a writer unless it is non-blocking;
// Windows opens no FIFO by a file name and has no such flag.
#ifdef O_NONBLOCK
constexpr int kNoWaiting = O_NONBLOCK;
#else
constexpr int kNoWaiting = 0;
#endif
// Workers must not inherit the descriptor.
#ifdef O_CLOEXEC
constexpr int kNotInherited = O_CLOEXEC;
#else
constexpr int kNotInherited = O_NOINHERIT | O_BINARY;
#endif

class OpenFile {
 public:
  explicit OpenFile(const std::filesystem::path& path)
      : fd_(open(path.string().c_str(), O_RDONLY | kNoWaiting | kNotInherited)) {}
  ~OpenFile() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  OpenFile(OpenFile&&) = delete;
  OpenFile& operator=(OpenFile&&) = delete;
  [[nodiscard]] int Get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

FileRead ReadRegularFile(const std::filesystem::path& path, std::size_t most, std::string& bytes,
                         std::string& problem) {
  const OpenFile file(path);
  if (file.Get() < 0) {
    problem = std::strerror(errno);
    return errno == ENOENT ? FileRead::kMissing : FileRead::kUnusable;
  }
  // Judged on what was opened, not on the path: it may have been swapped since.
  struct stat status {};
  if (fstat(file.Get(), &status) != 0) {
    problem = std::strerror(errno);
    return FileRead::kUnusable;
  }
  if (!S_ISREG(status.st_mode)) {
    problem = "not a regular file";
    return FileRead::kUnusable;
  }
  if (status.st_size < 0 || static_cast<std::size_t>(status.st_size) > most) {
    problem = "larger than " + std::to_string(most) + " bytes";
    return FileRead::kUnusable;
  }
  // A file that grows while it is read is cut at the size it had.
  const auto size = static_cast<std::size_t>(status.st_size);
  bytes.resize(size);
  std::size_t filled = 0;
  while (filled < size) {
    const auto got = read(file.Get(), bytes.data() + filled, static_cast<unsigned>(size - filled));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      problem = std::strerror(errno);
      return FileRead::kUnusable;
    }
    if (got == 0) {
      break;
    }
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  return FileRead::kRead;
}

}  // namespace hostsweep::controller
