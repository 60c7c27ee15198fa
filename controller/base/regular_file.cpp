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

#ifdef O_NOFOLLOW
// The symlink `link` at `path` is in a sticky folder anyone may write to
// (/tmp) and is neither ours nor the folder owner's: fs.protected_symlinks'
// rule. Only those two and root can replace a symlink there, so one that
// passes is still the one checked when it is followed.
bool IsPlantedLink(const std::filesystem::path& path, const struct stat& link) {
  const std::filesystem::path folderPath = path.has_parent_path() ? path.parent_path() : ".";
  struct stat folder {};
  return stat(folderPath.c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) != 0 &&
         (folder.st_mode & S_IWOTH) != 0 && link.st_uid != geteuid() &&
         link.st_uid != folder.st_uid;
}
#endif

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

FileWrite OpenForWriting(const std::filesystem::path& path, int& fd, std::string& problem) {
  constexpr int kFlags = O_WRONLY | O_CREAT | O_TRUNC | kNotInherited;
  constexpr int kMode = 0666;  // less the umask
#ifdef O_NOFOLLOW
  fd = open(path.c_str(), kFlags | O_NOFOLLOW, kMode);
  const int cause = errno;
  // A symlink: ELOOP, or EACCES where the system keeps us from creating over
  // another user's entry in a sticky folder.
  struct stat link {};
  if (fd < 0 && (cause == ELOOP || cause == EACCES) && lstat(path.c_str(), &link) == 0 &&
      S_ISLNK(link.st_mode)) {
    if (IsPlantedLink(path, link)) {
      problem = "it is user " + std::to_string(link.st_uid) +
                "'s symlink, in a sticky folder anyone may write to: that user chose where it "
                "leads";
      return FileWrite::kPlantedLink;
    }
    fd = open(path.c_str(), kFlags, kMode);
  } else {
    errno = cause;
  }
#else
  fd = open(path.string().c_str(), kFlags, kMode);
#endif
  if (fd < 0) {
    problem = std::strerror(errno);
    return FileWrite::kFailed;
  }
  return FileWrite::kOpened;
}

}  // namespace hostsweep::controller
