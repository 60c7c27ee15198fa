// The Windows build has no libmosquitto: --mqtt is refused.
#include "controller/base/errors.h"
#include "controller/notify/mqtt_sink.h"

namespace hostsweep::controller {

std::unique_ptr<MqttSink> MakeMqttSink(const std::string& /*url*/,
                                       const std::filesystem::path& /*database*/) {
  throw UsageError("--mqtt is not available in this build");
}

}  // namespace hostsweep::controller
