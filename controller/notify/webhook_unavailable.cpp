#include "controller/base/build_parts.h"
#include "controller/notify/webhook_sink.h"

namespace hostsweep::controller {

// No libcurl for Windows in Debian.
std::unique_ptr<EventSink> MakeWebhookSink(const std::string& /*url*/, WebhookFormat /*format*/) {
  RefuseNotBuilt("--webhook");
}

}  // namespace hostsweep::controller
