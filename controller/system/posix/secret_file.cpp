#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "common/posix/file_descriptor.h"
#include "controller/base/errors.h"
#include "controller/system/files.h"

namespace hostsweep::controller {
namespace {

constexpr std::size_t kMostSecretBytes = 4096;

}  // namespace

std::string ReadSecretFile(const std::filesystem::path& path) {
  const std::string named = "secret file " + path.string() + ": ";
  // Not followed through a link, and never blocked on a FIFO.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!file.Valid()) {
    throw UsageError(named + std::strerror(errno));
  }
  struct stat status {};
  if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    throw UsageError(named + "not a regular file");
  }
  if (status.st_uid != ::geteuid()) {
    throw UsageError(named + "not owned by this user");
  }
  if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    throw UsageError(named + "others may read or write it (chmod 600 it)");
  }
  std::string bytes;
  std::array<char, 512> buffer{};
  for (;;) {
    const ssize_t got = ::read(file.Get(), buffer.data(), buffer.size());
    if (got < 0) {
      throw UsageError(named + std::strerror(errno));
    }
    if (got == 0) {
      break;
    }
    bytes.append(buffer.data(), static_cast<std::size_t>(got));
    if (bytes.size() > kMostSecretBytes) {
      throw UsageError(named + "longer than " + std::to_string(kMostSecretBytes) + " bytes");
    }
  }
  bytes.erase(std::min(bytes.find_first_of("\r\n"), bytes.size()));
  if (bytes.empty()) {
    throw UsageError(named + "its first line is empty");
  }
  return bytes;
}

}  // namespace hostsweep::controller
