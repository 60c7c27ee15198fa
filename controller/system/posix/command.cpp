#include "controller/system/command.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>

#include "common/posix/file_descriptor.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace hostsweep::controller {
namespace {

constexpr std::size_t kLongestLine = 4096;
constexpr const char* kShell = "/bin/sh";

struct Ends {
  FileDescriptor read;
  FileDescriptor write;
};

void NeverBlocks(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// What the command writes comes through a pipe; our end never blocks.
Ends MakeOutputPipe() {
  std::array<int, 2> ends{-1, -1};
  if (pipe2(ends.data(), O_CLOEXEC) != 0) {
    return {};
  }
  NeverBlocks(ends[0]);
  return {FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

// Its input goes through a socket pair: a command that ends without reading
// it costs a send with MSG_NOSIGNAL an EPIPE, where a write to a pipe would
// raise SIGPIPE and end the whole controller unless something else happened
// to ignore it.
Ends MakeInputSocket() {
  std::array<int, 2> ends{-1, -1};
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends.data()) != 0) {
    return {};
  }
  NeverBlocks(ends[1]);
  return {FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

// Our environment with the request's own in place of any of the same name.
std::vector<std::string> EnvironmentOf(const CommandRequest& request) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const auto& [ours, value] : request.environment) {
      replaced = replaced || name == ours;
    }
    if (!replaced) {
      entries.emplace_back(text);
    }
  }
  for (const auto& [name, value] : request.environment) {
    std::string entry = name;
    entry += '=';
    entry += value;
    entries.push_back(std::move(entry));
  }
  return entries;
}

// The child's descriptors are its three alone, every signal as a new
// program expects it: ours block the interruptions and ignore SIGPIPE.
class SpawnSetup {
 public:
  SpawnSetup(int input, int output) {
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_adddup2(&actions_, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions_, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions_, output, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
    posix_spawnattr_init(&attributes_);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes_, &none);
    sigset_t handled;
    sigemptyset(&handled);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGPIPE}) {
      sigaddset(&handled, signal);
    }
    posix_spawnattr_setsigdefault(&attributes_, &handled);
    posix_spawnattr_setpgroup(&attributes_, 0);
    posix_spawnattr_setflags(
        &attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  SpawnSetup(SpawnSetup&&) = delete;
  SpawnSetup& operator=(SpawnSetup&&) = delete;
  [[nodiscard]] const posix_spawn_file_actions_t* Actions() const { return &actions_; }
  [[nodiscard]] const posix_spawnattr_t* Attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attributes_{};
};

// What the command writes, handed on a line at a time.
class LineSplitter {
 public:
  explicit LineSplitter(const std::function<void(std::string_view)>& line) : line_(line) {}
  void Take(std::string_view bytes) {
    for (const char byte : bytes) {
      if (byte == '\n') {
        Flush();
      } else if (pending_.size() == kLongestLine) {
        Flush();
        pending_ += byte;
      } else {
        pending_ += byte;
      }
    }
  }
  void Flush() {
    line_(pending_);
    pending_.clear();
  }
  void Finish() {
    if (!pending_.empty()) {
      Flush();
    }
  }

 private:
  const std::function<void(std::string_view)>& line_;
  std::string pending_;
};

std::string StatusText(int status) {
  if (WIFEXITED(status)) {
    return "exit status " + std::to_string(WEXITSTATUS(status));
  }
  return std::string("killed by signal ") + std::to_string(WTERMSIG(status));
}

// Reads what is there; false at end of file.
bool ReadAvailable(int fd, LineSplitter& lines) {
  std::array<char, kLongestLine> buffer{};
  for (;;) {
    const ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got > 0) {
      lines.Take({buffer.data(), static_cast<std::size_t>(got)});
    } else if (got == 0) {
      return false;
    } else {
      return errno == EAGAIN || errno == EINTR;
    }
  }
}

// Writes what its input takes now; true once it is all written (or the
// command closed its input: it may well not read it).
bool WriteAvailable(int fd, std::string_view& left) {
  while (!left.empty()) {
    const ssize_t put = send(fd, left.data(), left.size(), MSG_NOSIGNAL);
    if (put < 0) {
      return errno != EAGAIN && errno != EINTR;
    }
    left.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

struct Spawned {
  pid_t pid = 0;
  int error = 0;  // errno's value when it could not be started
};

// The shell, its standard input and output the command's ends of ours.
Spawned SpawnShell(const CommandRequest& request, int input, int output) {
  std::vector<std::string> environment = EnvironmentOf(request);
  std::vector<char*> envp;
  envp.reserve(environment.size() + 1);
  for (std::string& entry : environment) {
    envp.push_back(entry.data());
  }
  envp.push_back(nullptr);
  std::string shell = kShell;
  std::string dashC = "-c";
  std::string command = request.command;
  std::array<char*, 4> argv{shell.data(), dashC.data(), command.data(), nullptr};
  const SpawnSetup setup(input, output);
  Spawned spawned;
  spawned.error = posix_spawn(&spawned.pid, kShell, setup.Actions(), setup.Attributes(),
                              argv.data(), envp.data());
  return spawned;
}

// Feeds the command its input and reads what it writes until the shell has
// ended (its wait status) or `deadline` has passed (none).
std::optional<int> Converse(pid_t pid, FileDescriptor& input, const FileDescriptor& output,
                            std::string_view left, LineSplitter& lines,
                            std::chrono::steady_clock::time_point deadline) {
  // Readable once the shell has ended (Linux 5.3); without it, looked for
  // every 50 ms.
  const FileDescriptor ended(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  constexpr int kLookEvery = 50;
  if (WriteAvailable(input.Get(), left)) {
    input.Close();
  }
  bool open = true;
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      // What it wrote before it ended; a descendant that keeps the pipe
      // open is not waited for.
      if (open) {
        ReadAvailable(output.Get(), lines);
      }
      return status;
    }
    const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (remaining.count() <= 0) {
      return std::nullopt;
    }
    std::array<pollfd, 3> waits{{{open ? output.Get() : -1, POLLIN, 0},
                                 {input.Get(), POLLOUT, 0},
                                 {ended.Get(), POLLIN, 0}}};
    const int wait = ended.Valid() ? static_cast<int>(remaining.count())
                                   : std::min(kLookEvery, static_cast<int>(remaining.count()));
    if (poll(waits.data(), waits.size(), wait) < 0 && errno != EINTR) {
      return std::nullopt;
    }
    if (open && waits[0].revents != 0) {
      open = ReadAvailable(output.Get(), lines);
    }
    if (input.Valid() && waits[1].revents != 0 && WriteAvailable(input.Get(), left)) {
      input.Close();
    }
  }
}

std::string KilledAfter(std::chrono::milliseconds bound) {
  constexpr long long kMsPerSecond = 1000;
  const long long ms = bound.count();
  return "still running after " +
         (ms % kMsPerSecond == 0 ? std::to_string(ms / kMsPerSecond) + " s"
                                 : std::to_string(ms) + " ms") +
         ": killed";
}

}  // namespace

CommandOutcome RunShellCommand(const CommandRequest& request,
                               const std::function<void(std::string_view)>& line) {
  const auto deadline = std::chrono::steady_clock::now() + request.bound;
  Ends input = MakeInputSocket();
  Ends output = MakeOutputPipe();
  if (!input.read.Valid() || !output.read.Valid()) {
    return {.why = std::string("cannot make its input and output: ") + std::strerror(errno)};
  }
  const Spawned shell = SpawnShell(request, input.read.Get(), output.write.Get());
  if (shell.error != 0) {
    return {.why = std::string("cannot run /bin/sh: ") + std::strerror(shell.error)};
  }
  input.read.Close();
  output.write.Close();
  LineSplitter lines(line);
  const std::optional<int> status =
      Converse(shell.pid, input.write, output.read, request.input, lines, deadline);
  lines.Finish();
  if (!status) {
    kill(-shell.pid, SIGKILL);
    waitpid(shell.pid, nullptr, 0);
    return {.why = KilledAfter(request.bound)};
  }
  if (*status == 0) {
    return {.succeeded = true};
  }
  return {.why = StatusText(*status)};
}

}  // namespace hostsweep::controller
