// --mqtt URL: events and each device's state to an MQTT broker, and Home
// Assistant's discovery of the devices.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "controller/events/event_sink.h"
#include "controller/events/sweep_report.h"

namespace hostsweep::controller {

// Events are delivered through the broker (EventSink); after each sweep the
// devices' retained states and discovery configs are brought up to date
// (SweepObserver).
class MqttSink : public EventSink, public SweepObserver {};

// The sink for `url` (mqtt:// or mqtts://host[:port][/prefix], its secret
// already read) of the watch keeping the state database `database`, whose
// file names its client. Throws UsageError for a URL it cannot take, and
// where the build has no MQTT client.
std::unique_ptr<MqttSink> MakeMqttSink(const std::string& url,
                                       const std::filesystem::path& database);

}  // namespace hostsweep::controller
