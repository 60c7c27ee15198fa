#include "controller/notify/command_sink.h"

#include "controller/base/errors.h"

namespace hostsweep::controller {

std::unique_ptr<EventSink> MakeCommandSink(const std::string& /*command*/) {
  throw UsageError("--on-event is not built yet");
}

}  // namespace hostsweep::controller
