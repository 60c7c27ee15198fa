// Process services: argument text, yield, failure message, own program file,
// and starting a successor.
#include <sched.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/failure.h"
#include "platform/os.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace hostsweep::os {
namespace {

// The process's arguments, as the C library hands them to start-up functions
// (glibc passes argc and argv to every .init_array entry): no file to open and
// read, which thousands of short-lived workers would each pay for.
int argumentCount = 0;
char** arguments = nullptr;

void KeepArguments(int count, char** values, char** /*environment*/) {
  argumentCount = count;
  arguments = values;
}

[[gnu::section(".init_array"), gnu::used]] constexpr auto kKeepArguments = &KeepArguments;

// The running program itself, whatever has become of the file it was started
// from: a file replaced or removed during a sweep (an upgrade, a rebuild) must
// not change what the successors run, nor keep them from starting.
constexpr const char* kRunningProgram = "/proc/self/exe";

// The path the program was started from. Once that file is removed, the
// kernel shows the path with " (deleted)" after it; the suffix goes.
std::string ProgramFile() {
  std::array<char, PATH_MAX> buffer{};
  const ssize_t length = readlink(kRunningProgram, buffer.data(), buffer.size());
  if (length < 0 || static_cast<std::size_t>(length) >= buffer.size()) {
    throw Failure(std::string("cannot find the worker's own program file: ") +
                  std::strerror(length < 0 ? errno : ENAMETOOLONG));
  }
  std::string path(buffer.data(), static_cast<std::size_t>(length));
  constexpr std::string_view kRemoved = " (deleted)";
  struct stat file {};
  if (path.ends_with(kRemoved) && stat(kRunningProgram, &file) == 0 && file.st_nlink == 0) {
    path.resize(path.size() - kRemoved.size());
  }
  return path;
}

}  // namespace

std::string GetArgumentText() {
  // The first argument is the program path.
  std::string text;
  for (int i = 1; i < argumentCount; ++i) {
    text += i == 1 ? "" : " ";
    text += arguments[i];
  }
  return text;
}

void YieldToSystem() { sched_yield(); }

void ShowFailureBox(const std::string& description) {
  std::fprintf(stderr, "hostsweep-worker: %s\n", description.c_str());
}

void EndProcess(int exitStatus) { std::exit(exitStatus); }

std::string GetProgramFolder() {
  const std::string file = ProgramFile();
  const std::size_t slash = file.rfind('/');
  return slash == 0 ? "/" : file.substr(0, slash);
}

std::string GetProgramName() {
  const std::string file = ProgramFile();
  return file.substr(file.rfind('/') + 1);
}

void StartHiddenProcess(const std::string& folder, const std::string& name,
                        const std::string& arguments) {
  const std::string program = folder + (folder.ends_with('/') ? "" : "/") + name;
  // No shell: the argument text reaches the program as it is, whatever it holds.
  // The successor is told the program path, but runs this very program.
  std::string programArgument = program;
  std::string argumentText = arguments;
  char* argv[] = {programArgument.data(), argumentText.data(), nullptr};
  pid_t child = 0;
  const int error = posix_spawn(&child, kRunningProgram, nullptr, nullptr, argv, environ);
  if (error != 0) {
    throw Failure("cannot start the successor worker " + program + ": " + std::strerror(error));
  }
}

}  // namespace hostsweep::os
