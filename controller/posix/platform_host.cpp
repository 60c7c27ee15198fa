#include "controller/platform_host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "controller/errors.h"
#include "controller/posix/platform_worker_host.h"
#include "controller/posix/worker_file.h"
#include "controller/worker_path.h"

namespace hostsweep::controller {

ClosedStreams HoldClosedStandardStreams() {
  ClosedStreams closed{false, false, false};
  for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
    if (fcntl(stream, F_GETFD) != -1 || errno != EBADF) {
      continue;
    }
    // The lowest free number is this one. Opened for the other direction, so
    // that a read of standard input or a write of an output still fails as
    // on a closed descriptor.
    open("/dev/null", stream == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (stream == STDIN_FILENO) {
      closed.input = true;
    } else if (stream == STDOUT_FILENO) {
      closed.output = true;
    } else if (stream == STDERR_FILENO) {
      closed.error = true;
    }
  }
  return closed;
}

std::unique_ptr<WorkerHost> MakeWorkerHost(const std::string& workerPath, bool sendsEchoes) {
  WorkerFile worker(workerPath);
  if (sendsEchoes) {
    CheckEchoRights(worker);
  }
  return std::make_unique<PlatformWorkerHost>(std::move(worker));
}

std::string DefaultWorkerPath() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    throw SystemError("cannot find the controller's own program file: " + error.message());
  }
  return FindWorker(self.parent_path(), HOSTSWEEP_WORKER_FROM_CONTROLLER, "hostsweep-worker")
      .string();
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

std::size_t TerminalColumns() {
  winsize size{};
  return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

std::filesystem::path VendorRegistryFolder() { return "/usr/share/ieee-data"; }
std::size_t NeighbourTableSize() {
  // The table is the machine's, shared by every network namespace, and only
  // the first namespace shows its limit; elsewhere assume the kernel's default.
  constexpr std::size_t kKernelDefault = 1024;
  std::ifstream file("/proc/sys/net/ipv4/neigh/default/gc_thresh3");
  std::size_t size = 0;
  return file >> size && size > 0 ? size : kKernelDefault;
}

namespace {

// How long a write waits for a reader that has stopped taking the output once
// the sweep has been interrupted.
constexpr std::chrono::milliseconds kPatienceOnceInterrupted{100};

}  // namespace

WriteOutcome WriteStandard(bool toError, std::string_view bytes, std::string& problem) {
  const int stream = toError ? STDERR_FILENO : STDOUT_FILENO;
  // Readable while an interruption is pending; only polled, never read.
  static const FileDescriptor interruptions = [] {
    const sigset_t signals = InterruptSignals();
    return FileDescriptor(signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
  }();
  while (!bytes.empty()) {
    std::array<pollfd, 2> waits{{{stream, POLLOUT, 0}, {interruptions.Get(), POLLIN, 0}}};
    // Once the sweep has been interrupted, the results it has are written if
    // the reader takes them, but a reader that has stopped is not waited for.
    const int ready =
        poll(waits.data(), waits.size(),
             InterruptionRead() ? static_cast<int>(kPatienceOnceInterrupted.count()) : -1);
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      problem = std::strerror(errno);
      return WriteOutcome::kFailed;
    }
    if (waits[0].revents == 0) {
      if (ready == 0 || (waits[1].revents & POLLIN) != 0) {
        return WriteOutcome::kInterrupted;
      }
      continue;
    }
    // No more than a pipe takes in one piece once it has room: the write
    // cannot block, and a line is never split.
    const ssize_t size = write(stream, bytes.data(), std::min<std::size_t>(bytes.size(), PIPE_BUF));
    if (size < 0) {
      if (errno == EINTR || errno == EAGAIN) {
        continue;
      }
      if (errno == EPIPE) {
        return WriteOutcome::kReaderGone;
      }
      problem = std::strerror(errno);
      return WriteOutcome::kFailed;
    }
    bytes.remove_prefix(static_cast<std::size_t>(size));
  }
  return WriteOutcome::kWritten;
}

bool WaitForInterruption(std::chrono::milliseconds pause) {
  // The interruptions stay blocked from the first sweep on, pending until read.
  const sigset_t signals = InterruptSignals();
  const FileDescriptor interruptions(signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
  const auto end = std::chrono::steady_clock::now() + pause;
  for (auto left = pause; left.count() > 0;
       left = std::chrono::duration_cast<std::chrono::milliseconds>(
           end - std::chrono::steady_clock::now())) {
    pollfd wait{interruptions.Get(), POLLIN, 0};
    const int ready = poll(&wait, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
    if (ready > 0) {
      return true;
    }
    if (ready < 0 && errno != EINTR) {
      throw SystemError(std::string("cannot wait for the next sweep: ") + std::strerror(errno));
    }
  }
  return false;
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
