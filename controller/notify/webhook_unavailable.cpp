#include "controller/base/errors.h"
#include "controller/notify/webhook_sink.h"

namespace hostsweep::controller {

// No libcurl for Windows in Debian.
std::unique_ptr<EventSink> MakeWebhookSink(const std::string& /*url*/, WebhookFormat /*format*/) {
  throw UsageError("--webhook is not available in this build");
}

}  // namespace hostsweep::controller
