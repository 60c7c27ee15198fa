#include "controller/notify/webhook_request.h"

#include <curl/curl.h>

#include <memory>

#include "controller/base/errors.h"
#include "controller/notify/secret_option.h"

namespace hostsweep::controller {

WebhookRequest MakeWebhookRequest(const QueuedEvent& queued, WebhookFormat format) {
  const bool json = format == WebhookFormat::kJson;
  return {.headers = {json ? "Content-Type: application/json"
                           : "Content-Type: text/plain; charset=utf-8",
                      "Idempotency-Key: " + std::to_string(queued.event.id),
                      "User-Agent: hostsweep/" HOSTSWEEP_VERSION,
                      // An event is small: no round trip waiting for "100 Continue".
                      "Expect:"},
          .body = json ? queued.json : EventSummary(queued.event)};
}

void CheckWebhookUrl(const std::string& url) {
  const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), curl_url_cleanup);
  if (!parsed) {
    throw SystemError("--webhook: out of memory");
  }
  char* scheme = nullptr;
  char* host = nullptr;
  const bool wellFormed = curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
                          curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                          curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK;
  const std::string schemeText = scheme == nullptr ? "" : scheme;
  curl_free(scheme);
  curl_free(host);
  if (!wellFormed || (schemeText != "http" && schemeText != "https")) {
    throw UsageError("--webhook takes an http:// or https:// URL, not " + MaskedUrl(url));
  }
}

}  // namespace hostsweep::controller
