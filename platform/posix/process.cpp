// Process services: argument text, yield, failure message, own program file,
// and starting a successor.
#include <sched.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/failure.h"
#include "platform/os.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace hostsweep::os {
namespace {

std::filesystem::path ProgramFile() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    throw Failure("cannot find the worker's own program file: " + error.message());
  }
  return path;
}

}  // namespace

std::string GetArgumentText() {
  std::ifstream file("/proc/self/cmdline", std::ios::binary);
  // Each argument ends in a zero byte; the first is the program path.
  std::string argument;
  std::getline(file, argument, '\0');
  std::string text;
  for (bool first = true; std::getline(file, argument, '\0'); first = false) {
    text += first ? "" : " ";
    text += argument;
  }
  return text;
}

void YieldToSystem() { sched_yield(); }

void ShowFailureBox(const std::string& description) {
  std::fprintf(stderr, "hostsweep-worker: %s\n", description.c_str());
}

void EndProcess(int exitStatus) { std::exit(exitStatus); }

std::string GetProgramFolder() { return ProgramFile().parent_path().string(); }

std::string GetProgramName() { return ProgramFile().filename().string(); }

void StartHiddenProcess(const std::string& folder, const std::string& name,
                        const std::string& arguments) {
  const std::string program = (std::filesystem::path(folder) / name).string();
  // No shell: the argument text reaches the program as it is, whatever it holds.
  std::string programArgument = program;
  std::string argumentText = arguments;
  char* argv[] = {programArgument.data(), argumentText.data(), nullptr};
  pid_t child = 0;
  const int error = posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ);
  if (error != 0) {
    throw Failure("cannot start the successor worker " + program + ": " + std::strerror(error));
  }
}

}  // namespace hostsweep::os
