// What one webhook POST carries, built apart from the transfer so that it can
// be checked without a receiver.
#pragma once

#include <string>
#include <vector>

#include "controller/events/event_sink.h"
#include "controller/notify/webhook_sink.h"

namespace hostsweep::controller {

struct WebhookRequest {
  std::vector<std::string> headers;  // "Name: value"
  std::string body;
};

// The event's JSON, or its summary line for kText; its id as the
// Idempotency-Key, so that a receiver told twice can drop the second.
WebhookRequest MakeWebhookRequest(const QueuedEvent& queued, WebhookFormat format);

// Throws UsageError, naming the URL masked, unless `url` is a well-formed
// http:// or https:// URL with a host.
void CheckWebhookUrl(const std::string& url);

}  // namespace hostsweep::controller
