#include "controller/system/posix/chain_guardian.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "controller/base/errors.h"

namespace hostsweep::controller {
namespace {

constexpr int kCommands = 3;
// More process groups than -j lets run at once.
constexpr std::size_t kMostGroups = 4096;

// The guardian's whole life. It holds nothing of the controller's open but its
// end of the pipe (a reader of the controller's output must not wait for it),
// and no signal reaches it but SIGKILL: Ctrl-C goes to the terminal's whole
// process group, and the guardian is needed most when the controller has not
// survived one.
// `groups` comes with room made before the fork: the controller may have
// threads by then (the event sinks'), and a child forked from threads must not
// count on the allocator.
[[noreturn]] void Watch(int commands, std::vector<pid_t>& groups) {
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, nullptr);
  dup2(commands, kCommands);
  close_range(kCommands + 1, ~0U, 0);
  const int nothing = open("/dev/null", O_RDWR);
  for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
    dup2(nothing, stream);
  }
  if (nothing > STDERR_FILENO) {
    close(nothing);
  }
  for (;;) {
    pid_t value = 0;
    const ssize_t size = read(kCommands, &value, sizeof value);
    if (size < 0 && errno == EINTR) {
      continue;
    }
    if (size != sizeof value) {
      break;  // end of file: the controller has ended
    }
    if (value > 0) {
      groups.push_back(value);
    } else {
      std::erase(groups, -value);
    }
  }
  for (const pid_t group : groups) {
    kill(-group, SIGKILL);
  }
  _exit(0);
}

}  // namespace

ChainGuardian::ChainGuardian() {
  std::array<int, 2> pipe{};
  if (pipe2(pipe.data(), O_CLOEXEC) != 0) {
    throw SystemError(std::string("cannot start the workers' guardian: ") + std::strerror(errno));
  }
  FileDescriptor readEnd(pipe[0]);
  commands_ = FileDescriptor(pipe[1]);
  std::vector<pid_t> groups;
  groups.reserve(kMostGroups);
  const pid_t guardian = fork();
  if (guardian < 0) {
    throw SystemError(std::string("cannot start the workers' guardian: ") + std::strerror(errno));
  }
  if (guardian == 0) {
    commands_.Close();
    Watch(readEnd.Get(), groups);
  }
}

void ChainGuardian::Forget(pid_t group) { Send(-group); }

void ChainGuardian::Send(pid_t value) {
  // Four bytes to a pipe go in one piece; a guardian that has gone is no
  // reason to stop the sweep.
  while (write(commands_.Get(), &value, sizeof value) < 0 && errno == EINTR) {
  }
}

}  // namespace hostsweep::controller
