#include "controller/system/console.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/posix/file_descriptor.h"
#include "controller/base/errors.h"
#include "controller/system/posix/platform_worker_host.h"

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

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

std::size_t TerminalColumns() {
  winsize size{};
  return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
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

}  // namespace hostsweep::controller
