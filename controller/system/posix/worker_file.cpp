#include "controller/system/posix/worker_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "controller/base/errors.h"

namespace hostsweep::controller {

WorkerFile::WorkerFile(std::string path)
    : path_(std::move(path)), file_(open(path_.c_str(), O_PATH | O_CLOEXEC)) {
  struct stat file {};
  if (!file_.Valid() || fstat(file_.Get(), &file) != 0 ||
      faccessat(file_.Get(), "", X_OK, AT_EMPTY_PATH) != 0) {
    throw SystemError("cannot run the worker " + path_ + ": " + std::strerror(errno));
  }
  if (!S_ISREG(file.st_mode)) {
    throw SystemError("cannot run the worker " + path_ + ": not a program file");
  }
  // A set-user-ID worker runs as its file's owner: its reports come from
  // another user than the controller's and are dropped, and any local user
  // may run it as that owner. The file capability gives the one right it needs.
  if ((file.st_mode & S_ISUID) != 0) {
    throw SystemError("will not run the worker " + path_ + ": it is set-user-ID (user " +
                      std::to_string(file.st_uid) +
                      "), so it would run as another user than hostsweep and anyone could run it "
                      "as that user; remove the bit and give it the right to raw sockets alone: "
                      "chmod u-s " +
                      path_ + " && setcap cap_net_raw+ep " + path_);
  }
}

std::string WorkerFile::OpenedPath() const {
  return "/proc/self/fd/" + std::to_string(file_.Get());
}

}  // namespace hostsweep::controller
