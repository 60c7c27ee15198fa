// --webhook URL: each event POSTed to URL over HTTP(S).
#pragma once

#include <memory>
#include <string>

#include "controller/events/event_sink.h"

namespace hostsweep::controller {

enum class WebhookFormat { kJson, kText };

// The sink for `url` (http:// or https://, its secret already read), posting
// EventJson (kJson) or EventSummary (kText). Throws UsageError for a URL it
// cannot take, and where the build has no HTTP client.
std::unique_ptr<EventSink> MakeWebhookSink(const std::string& url, WebhookFormat format);

}  // namespace hostsweep::controller
