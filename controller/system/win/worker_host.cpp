#include "controller/system/worker_host.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <string>

#include "common/win/system_message.h"
#include "controller/base/errors.h"
#include "controller/system/win/platform_worker_host.h"
#include "controller/system/win/program_folder.h"
#include "controller/system/worker_path.h"

namespace hostsweep::controller {
namespace {

std::string LastError() { return SystemMessage(::GetLastError()); }

// Relative paths and "/" separators become the full path the system expects.
std::string FullPath(const std::string& path) {
  std::string full(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) {
      throw SystemError("cannot find the worker " + path + ": " + LastError());
    }
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);
  }
}

void CheckWorkerPath(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    throw SystemError("cannot run the worker " + path + ": " + LastError());
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw SystemError("cannot run the worker " + path + ": it is a folder");
  }
}

}  // namespace

// Every user may send echo requests through icmp.dll: nothing to check for them.
std::unique_ptr<WorkerHost> MakeWorkerHost(EventLoop& loop, const std::string& workerPath,
                                           bool /*sendsEchoes*/) {
  CheckWorkerPath(workerPath);
  // The results keep the line ends their format gives them (CSV's "\r\n"
  // among them) instead of gaining a "\r" before every "\n".
  ::_setmode(::_fileno(stdout), _O_BINARY);
  return std::make_unique<PlatformWorkerHost>(loop, FullPath(workerPath));
}

std::string WhyNoEchoes(const std::string& /*workerPath*/) { return {}; }

std::string DefaultWorkerPath() {
  return FindWorker(ProgramFolder(), HOSTSWEEP_WORKER_FROM_CONTROLLER, "hostsweep-worker.exe")
      .string();
}

}  // namespace hostsweep::controller
