// The worker program of one sweep, opened once as the sweep starts: every
// chain of the sweep runs this very file, whatever becomes of its path
// meanwhile (a package removed or upgraded during a long sweep or a --watch),
// and the file checked is the file run.
#pragma once

#include <string>

#include "common/posix/file_descriptor.h"

namespace hostsweep::controller {

class WorkerFile {
 public:
  // Throws SystemError naming the problem when `path` cannot be run.
  explicit WorkerFile(std::string path);

  // As the user gave it: for messages, and the workers' argv[0].
  [[nodiscard]] const std::string& Path() const { return path_; }
  // An O_PATH descriptor, closed on exec.
  [[nodiscard]] int Descriptor() const { return file_.Get(); }
  // A path that reaches the opened file alone, for calls that take no descriptor.
  [[nodiscard]] std::string OpenedPath() const;

 private:
  std::string path_;
  FileDescriptor file_;
};

// Why the workers run from `worker` would not be allowed to send echo
// requests, with the cause and the ways to fix it; empty when they would.
std::string WhyNoEchoRights(const WorkerFile& worker);

}  // namespace hostsweep::controller
