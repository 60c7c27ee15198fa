#include "tests/integration/reliability_support.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/integration/harness.h"

namespace hostsweep::testing {

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
