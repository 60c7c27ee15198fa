// The Windows build has no libmosquitto: --mqtt is refused.
#include "controller/base/build_parts.h"
#include "controller/notify/mqtt_sink.h"

namespace hostsweep::controller {

std::unique_ptr<MqttSink> MakeMqttSink(const std::string& /*url*/,
                                       const std::filesystem::path& /*database*/) {
  RefuseNotBuilt("--mqtt");
}

}  // namespace hostsweep::controller
