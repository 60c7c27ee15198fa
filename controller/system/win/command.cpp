#include "controller/system/command.h"

#include "controller/base/errors.h"

namespace hostsweep::controller {

bool ShellCommandsRun() { return false; }

CommandOutcome RunShellCommand(const CommandRequest& /*request*/,
                               const std::function<void(std::string_view)>& /*line*/) {
  throw UsageError("--on-event needs a POSIX shell, which Windows does not have");
}

}  // namespace hostsweep::controller
