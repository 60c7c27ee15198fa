#include "tests/integration/reliability_support.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace hostsweep::testing {
namespace {

std::array<int, 2> MakePipe() {
  std::array<int, 2> ends{};
  if (pipe2(ends.data(), O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  return ends;
}

}  // namespace

BackgroundController::BackgroundController(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{ControllerPath()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  pointers.reserve(argv.size() + 1);
  for (auto& argument : argv) {
    pointers.push_back(argument.data());
  }
  pointers.push_back(nullptr);
  const auto out = MakePipe();
  const auto err = MakePipe();
  posix_spawn_file_actions_t actions{};
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  const int error = posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  out_ = out[0];
  err_ = err[0];
  if (error != 0) {
    throw std::runtime_error("cannot start " + argv[0]);
  }
}

BackgroundController::~BackgroundController() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (const int fd : {out_, err_}) {
    if (fd >= 0) {
      close(fd);
    }
  }
}

ControllerRun BackgroundController::Finish() {
  ControllerRun run{0, {}, {}};
  std::array<pollfd, 2> open{{{out_, POLLIN, 0}, {err_, POLLIN, 0}}};
  while (open[0].fd >= 0 || open[1].fd >= 0) {
    poll(open.data(), open.size(), -1);
    for (std::size_t i = 0; i < open.size(); ++i) {
      if (open[i].fd < 0 || open[i].revents == 0) {
        continue;
      }
      std::array<char, 4096> chunk{};
      const ssize_t length = read(open[i].fd, chunk.data(), chunk.size());
      if (length > 0) {
        (i == 0 ? run.standardOutput : run.standardError)
            .append(chunk.data(), static_cast<std::size_t>(length));
      } else if (length == 0 || errno != EINTR) {
        close(open[i].fd);
        open[i].fd = -1;
      }
    }
  }
  out_ = err_ = -1;
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return run;
}

std::vector<pid_t> ProcessesRunning(const std::string& program) {
  const auto target = std::filesystem::weakly_canonical(program);
  std::vector<pid_t> pids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink(entry.path() / "exe", error);
    if (!error && exe == target) {
      pids.push_back(std::stoi(entry.path().filename().string()));
    }
  }
  return pids;
}

bool AwaitProcesses(const std::string& program, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ProcessesRunning(program).size() < count) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::size_t OpenDescriptors(const std::string& pid) {
  const auto folder = std::filesystem::path("/proc") / pid / "fd";
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
    ++count;
  }
  return count;
}

}  // namespace hostsweep::testing
