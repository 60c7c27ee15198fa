#include "controller/system/worker_host.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "controller/base/errors.h"
#include "controller/system/posix/platform_worker_host.h"
#include "controller/system/worker_path.h"

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
  // A set-user-ID worker runs as its file's owner: its reports come from
  // another user than the controller's and are dropped, and any local user
  // may run it as that owner. The file capability gives the one right it needs.
  if ((file.st_mode & S_ISUID) != 0) {
    throw SystemError("will not run the worker " + path + ": it is set-user-ID (user " +
                      std::to_string(file.st_uid) +
                      "), so it would run as another user than hostsweep and anyone could run it "
                      "as that user; remove the bit and give it the right to raw sockets alone: "
                      "chmod u-s " +
                      path + " && setcap cap_net_raw+ep " + path);
  }
}

}  // namespace hostsweep::controller
