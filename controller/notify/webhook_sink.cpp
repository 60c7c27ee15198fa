#include "controller/notify/webhook_sink.h"

#include "controller/base/errors.h"

namespace hostsweep::controller {

std::unique_ptr<EventSink> MakeWebhookSink(const std::string& /*url*/, WebhookFormat /*format*/) {
  throw UsageError("--webhook is not built yet");
}

}  // namespace hostsweep::controller
