#include "controller/notify/mqtt_sink.h"

#include "controller/base/errors.h"

namespace hostsweep::controller {

std::unique_ptr<MqttSink> MakeMqttSink(const std::string& /*url*/) {
  throw UsageError("--mqtt is not built yet");
}

}  // namespace hostsweep::controller
