#include "controller/platform_host.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "controller/errors.h"
#include "controller/posix/platform_worker_host.h"
#include "controller/worker_path.h"

namespace hostsweep::controller {

std::unique_ptr<WorkerHost> MakeWorkerHost(const std::string& workerPath) {
  return std::make_unique<PlatformWorkerHost>(workerPath);
}

std::string DefaultWorkerPath() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    throw SystemError("cannot find the controller's own program file: " + error.message());
  }
  return FindWorker(self.parent_path(), HOSTSWEEP_WORKER_FROM_CONTROLLER, "hostsweep-worker")
      .string();
}

void CheckWorkerPath(const std::string& path) {
  struct stat file {};
  if (stat(path.c_str(), &file) != 0 || access(path.c_str(), X_OK) != 0) {
    throw SystemError("cannot run the worker " + path + ": " + std::strerror(errno));
  }
  if (!S_ISREG(file.st_mode)) {
    throw SystemError("cannot run the worker " + path + ": not a program file");
  }
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

std::filesystem::path VendorRegistryFolder() { return "/usr/share/ieee-data"; }
std::size_t NeighbourTableSize() {
  // The table is the machine's, shared by every network namespace, and only
  // the first namespace shows its limit; elsewhere assume the kernel's default.
  constexpr std::size_t kKernelDefault = 1024;
  std::ifstream file("/proc/sys/net/ipv4/neigh/default/gc_thresh3");
  std::size_t size = 0;
  return file >> size && size > 0 ? size : kKernelDefault;
}

}  // namespace hostsweep::controller
