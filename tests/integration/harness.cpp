#include "tests/integration/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include "common/posix/report_socket.h"
#include "common/report.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace hostsweep::testing {
namespace {

constexpr int kConnectionPatienceMs = 5000;

}  // namespace

std::string ReceivedReport::Text() const { return ReportText(payload); }

ReportReceiver::ReportReceiver() {
  auto listener = report_socket::ListenAtFreeHandle(100000, 2000000000);
  if (!listener.socket.Valid()) {
    throw std::runtime_error("no free report socket name");
  }
  listener_ = std::move(listener.socket);
  handle_ = listener.handle;
  stop_ = FileDescriptor(eventfd(0, EFD_CLOEXEC));
  server_ = std::thread([this] { Serve(); });
}

ReportReceiver::~ReportReceiver() {
  const std::uint64_t one = 1;
  (void)!write(stop_.Get(), &one, sizeof one);
  server_.join();
}

void ReportReceiver::Serve() {
  const auto keep = [this](const report_socket::Packet& packet) {
    const std::lock_guard lock(mutex_);
    reports_.push_back({packet.dwData, packet.payload});
    arrived_.notify_all();
  };
  for (;;) {
    std::array<pollfd, 2> waiting{{{listener_.Get(), POLLIN, 0}, {stop_.Get(), POLLIN, 0}}};
    if (poll(waiting.data(), waiting.size(), -1) < 0 || waiting[1].revents != 0) {
      return;
    }
    while (const auto connection = report_socket::Accept(listener_.Get())) {
      report_socket::Receive(connection->socket.Get(), kConnectionPatienceMs, keep);
    }
  }
}

std::vector<ReceivedReport> ReportReceiver::WaitFor(std::size_t count, milliseconds limit) {
  std::unique_lock lock(mutex_);
  arrived_.wait_for(lock, limit, [&] { return reports_.size() >= count; });
  return reports_;
}

std::vector<ReceivedReport> ReportReceiver::Received() const {
  const std::lock_guard lock(mutex_);
  return reports_;
}

std::vector<std::string> ReportReceiver::Texts() const {
  std::vector<std::string> texts;
  for (const auto& report : Received()) {
    texts.push_back(report.Text());
  }
  return texts;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile) {
  std::vector<std::string> arguments = argv;
  std::vector<char*> pointers;
  pointers.reserve(arguments.size() + 1);
  for (auto& argument : arguments) {
    pointers.push_back(argument.data());
  }
  pointers.push_back(nullptr);
  std::array<int, 2> output{};
  std::array<int, 2> error{};
  if (pipe2(output.data(), O_CLOEXEC) != 0 || pipe2(error.data(), O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  // The child's ends, closed once it has its own copies.
  const FileDescriptor outputEnd(output[1]);
  const FileDescriptor errorEnd(error[1]);
  output_ = FileDescriptor(output[0]);
  error_ = FileDescriptor(error[0]);
  posix_spawn_file_actions_t actions{};
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (outputFile.empty()) {
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(), O_WRONLY, 0);
    output_.Close();
  }
  posix_spawn_file_actions_adddup2(&actions, error[1], STDERR_FILENO);
  start_ = std::chrono::steady_clock::now();
  const int failure = posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failure != 0) {
    pid_ = 0;
    throw std::runtime_error("cannot start " + argv.at(0));
  }
}

ChildProcess::~ChildProcess() {
  if (!Ended()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool ChildProcess::Ended() {
  ended_ = ended_ || pid_ == 0 || waitpid(pid_, &status_, WNOHANG) != 0;
  return ended_;
}

bool ChildProcess::ReadAvailable(int timeoutMs, bool output) {
  // A negative descriptor is left out of the poll.
  std::array<pollfd, 2> pipes{
      {{output ? output_.Get() : -1, POLLIN, 0}, {error_.Get(), POLLIN, 0}}};
  if (poll(pipes.data(), pipes.size(), timeoutMs) <= 0) {
    return false;
  }
  bool read = false;
  for (auto& pipe : pipes) {
    if ((pipe.revents & POLLIN) == 0) {
      continue;
    }
    std::array<char, 4096> chunk{};
    const ssize_t length = ::read(pipe.fd, chunk.data(), chunk.size());
    if (length > 0) {
      (pipe.fd == output_.Get() ? result_.standardOutput : result_.standardError)
          .append(chunk.data(), static_cast<std::size_t>(length));
      read = true;
    }
  }
  return read;
}

bool ChildProcess::AwaitOutput(const std::string& text, milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (result_.standardOutput.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    ReadAvailable(10);
  }
  return true;
}

bool ChildProcess::AwaitEnd(milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!Ended()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    ReadAvailable(10, false);
  }
  return true;
}

std::size_t ChildProcess::UnreadOutput() const {
  int bytes = 0;
  return output_.Valid() && ioctl(output_.Get(), FIONREAD, &bytes) == 0
             ? static_cast<std::size_t>(bytes)
             : 0;
}

ProcessResult ChildProcess::Finish(const std::function<void(const ProcessResult&)>& watch) {
  while (!Ended()) {
    if (ReadAvailable(10) && watch) {
      watch(result_);
    }
  }
  result_.elapsed =
      std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start_);
  while (ReadAvailable(0)) {
  }
  result_.exitStatus = WIFEXITED(status_) ? WEXITSTATUS(status_) : -WTERMSIG(status_);
  return result_;
}

ProcessResult RunProcess(const std::vector<std::string>& argv) {
  return ChildProcess(argv).Finish();
}

std::string WorkerPath() { return HOSTSWEEP_WORKER_PATH; }

ProcessResult RunWorkerProcess(const std::string& requestLine) {
  return RunProcess({WorkerPath(), requestLine});
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

bool WaitUntilNoneRun(const std::string& program, milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ProcessesRunning(program).empty()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
  return true;
}

bool InLab() {
  // The scanner namespace alone has the lab bridge.
  return std::filesystem::exists("/sys/class/net/br0");
}

}  // namespace hostsweep::testing
