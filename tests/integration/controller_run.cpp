#include "tests/integration/controller_run.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <utility>

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace hostsweep::testing {
namespace {

struct Pipe {
  int read;
  int write;
};

Pipe MakePipe() {
  std::array<int, 2> ends{};
  if (pipe2(ends.data(), O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  return {ends[0], ends[1]};
}

// Reads what is there; false once the writers are all gone.
bool Drain(int fd, std::string& into) {
  std::array<char, 4096> chunk{};
  const ssize_t length = read(fd, chunk.data(), chunk.size());
  if (length > 0) {
    into.append(chunk.data(), static_cast<std::size_t>(length));
  }
  return length > 0 || (length < 0 && errno == EINTR);
}

}  // namespace

std::string ControllerPath() { return HOSTSWEEP_CONTROLLER_PATH; }

ControllerRun RunController(const std::vector<std::string>& arguments, Interrupt interrupt) {
  std::vector<std::string> argv{ControllerPath()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  pointers.reserve(argv.size() + 1);
  for (auto& argument : argv) {
    pointers.push_back(argument.data());
  }
  pointers.push_back(nullptr);
  const Pipe out = MakePipe();
  const Pipe err = MakePipe();
  posix_spawn_file_actions_t actions{};
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write, STDERR_FILENO);
  pid_t child = 0;
  const int error = posix_spawn(&child, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out.write);
  close(err.write);
  if (error != 0) {
    close(out.read);
    close(err.read);
    throw std::runtime_error("cannot start " + argv[0]);
  }
  ControllerRun run{0, {}, {}};
  std::array<pollfd, 2> open{{{out.read, POLLIN, 0}, {err.read, POLLIN, 0}}};
  bool interrupted = false;
  while (open[0].fd >= 0 || open[1].fd >= 0) {
    poll(open.data(), open.size(), -1);
    for (std::size_t i = 0; i < open.size(); ++i) {
      if (open[i].fd >= 0 && open[i].revents != 0 &&
          !Drain(open[i].fd, i == 0 ? run.standardOutput : run.standardError)) {
        close(open[i].fd);
        open[i].fd = -1;
      }
    }
    if (interrupt == Interrupt::kAfterFirstRow && !interrupted &&
        std::count(run.standardOutput.begin(), run.standardOutput.end(), '\n') >= 2) {
      kill(child, SIGINT);
      interrupted = true;
    }
  }
  int status = 0;
  waitpid(child, &status, 0);
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return run;
}

std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      record.push_back(std::exchange(field, {}));
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      continue;
    } else if (c == '\n') {
      record.push_back(std::exchange(field, {}));
      records.push_back(std::exchange(record, {}));
    } else {
      field += c;
    }
  }
  return records;
}

}  // namespace hostsweep::testing
