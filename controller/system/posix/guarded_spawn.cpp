#include "controller/system/posix/guarded_spawn.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <memory>

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace hostsweep::controller {
namespace {

// The child runs on a stack of its own in the controller's memory until it
// runs the program (as posix_spawn's does); it calls only thin system call
// wrappers, which need little.
constexpr std::size_t kChildStack = std::size_t{64} * 1024;

struct Start {
  int program;
  char* const* argv;
  int errors;
  int guardian;
  int error;  // set by the child when it cannot run the program
};

void WriteAll(int fd, const void* bytes, std::size_t size) {
  while (write(fd, bytes, size) < 0 && errno == EINTR) {
  }
}

// Shares the controller's memory: touches nothing but `start`, its own frame
// and the system. Not instrumented, as it runs on a stack no sanitizer knows.
__attribute__((no_sanitize("address", "undefined"))) int Child(void* argument) {
  auto* start = static_cast<Start*>(argument);
  setpgid(0, 0);
  // Four bytes to a pipe go in one piece. SIGPIPE is still ignored here, so
  // a guardian that has gone costs the worker nothing.
  const pid_t self = getpid();
  WriteAll(start->guardian, &self, sizeof self);
  const int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (nothing < 0 || dup2(nothing, STDIN_FILENO) < 0 || dup2(nothing, STDOUT_FILENO) < 0 ||
      dup2(start->errors, STDERR_FILENO) < 0) {
    start->error = errno;
    _exit(127);
  }
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGPIPE}) {
    std::signal(signal, SIG_DFL);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  fexecve(start->program, start->argv, environ);
  // A script's interpreter opens it by /dev/fd/N, which a descriptor closed on
  // exec no longer names: the system refuses it so (ENOENT), and a script
  // alone keeps the descriptor (in the child's own table).
  if (errno == ENOENT && fcntl(start->program, F_SETFD, 0) == 0) {
    fexecve(start->program, start->argv, environ);
  }
  start->error = errno;
  _exit(127);
}

}  // namespace

SpawnOutcome SpawnGuarded(int program, const std::string& name, const std::string& argument,
                          int errors, int guardian) {
  std::string nameCopy = name;
  std::string argumentCopy = argument;
  std::array<char*, 3> argv{nameCopy.data(), argumentCopy.data(), nullptr};
  Start start{program, argv.data(), errors, guardian, 0};
  const auto stack = std::make_unique<char[]>(kChildStack);  // NOLINT(*-avoid-c-arrays)
  // No signal handler may run in the child while it shares our memory.
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, &before);
  // The controller waits (CLONE_VFORK) until the child runs the program or ends.
  const pid_t pid =
      clone(Child, stack.get() + kChildStack, CLONE_VM | CLONE_VFORK | SIGCHLD, &start);
  const int cloneError = errno;
  sigprocmask(SIG_SETMASK, &before, nullptr);
  if (pid < 0) {
    return {0, cloneError};
  }
  if (start.error != 0) {
    waitpid(pid, nullptr, 0);
    return {pid, start.error};
  }
  return {pid, 0};
}

}  // namespace hostsweep::controller
