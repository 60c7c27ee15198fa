#include "controller/system/command.h"

#include "controller/base/build_parts.h"

namespace hostsweep::controller {

CommandOutcome RunShellCommand(const CommandRequest& /*request*/,
                               const std::function<void(std::string_view)>& /*line*/) {
  RefuseNotBuilt("--on-event");
}

}  // namespace hostsweep::controller
