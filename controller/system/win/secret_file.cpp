#include "controller/base/errors.h"
#include "controller/system/files.h"

namespace hostsweep::controller {

// Who may read a file is an ACL on Windows, which nothing here checks; the
// sinks that take secrets need the state database, which this build has not.
std::string ReadSecretFile(const std::filesystem::path& path) {
  throw UsageError("secret file " + path.string() + ": not read on Windows");
}

}  // namespace hostsweep::controller
