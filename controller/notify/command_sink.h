// --on-event CMD: each event handed to a shell command.
#pragma once

#include <memory>
#include <string>

#include "controller/events/event_sink.h"

namespace hostsweep::controller {

// The sink that runs `command` through /bin/sh -c for each event, the
// event's JSON on its standard input and EventEnvironment in its
// environment; exit status 0 confirms it.
// What it writes goes to our standard error, a line at a time, masked.
// Throws UsageError where the system cannot run commands so (Windows).
std::unique_ptr<EventSink> MakeCommandSink(const std::string& command);

}  // namespace hostsweep::controller
