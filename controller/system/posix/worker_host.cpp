#include "controller/system/worker_host.h"

#include <filesystem>

#include "controller/base/errors.h"
#include "controller/system/posix/platform_worker_host.h"
#include "controller/system/posix/worker_file.h"
#include "controller/system/worker_path.h"

namespace hostsweep::controller {

std::unique_ptr<WorkerHost> MakeWorkerHost(EventLoop& loop, const std::string& workerPath,
                                           bool sendsEchoes) {
  WorkerFile worker(workerPath);
  if (sendsEchoes) {
    if (std::string why = WhyNoEchoRights(worker); !why.empty()) {
      throw SystemError(why);
    }
  }
  return std::make_unique<PlatformWorkerHost>(loop, std::move(worker));
}

std::string WhyNoEchoes(const std::string& workerPath) {
  return WhyNoEchoRights(WorkerFile(workerPath));
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

}  // namespace hostsweep::controller
