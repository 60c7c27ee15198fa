#include "controller/notify/webhook_sink.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>

#include "controller/base/errors.h"
#include "controller/notify/webhook_request.h"

namespace hostsweep::controller {
namespace {

using Handle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// What a receiver answers is read and dropped; past this much it is not even
// read (its status line has told us all we need).
constexpr std::size_t kBodyRead = std::size_t{64} * 1024;

std::size_t DiscardBody(char* /*data*/, std::size_t size, std::size_t count, void* read) {
  auto& total = *static_cast<std::size_t*>(read);
  total += size * count;
  return total > kBodyRead ? 0 : size * count;
}

template <typename Value>
void Set(CURL* handle, CURLoption option, Value value) {
  if (curl_easy_setopt(handle, option, value) != CURLE_OK) {
    throw SystemError("--webhook: this libcurl lacks an option hostsweep needs");
  }
}

// Once per process, before the first handle; never undone, as other threads
// may still hold handles at exit.
void StartCurl() {
  static const CURLcode started = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (started != CURLE_OK) {
    throw SystemError("--webhook: libcurl could not start");
  }
}

HeaderList Headers(const std::vector<std::string>& lines) {
  HeaderList list(nullptr, curl_slist_free_all);
  for (const std::string& line : lines) {
    curl_slist* longer = curl_slist_append(list.get(), line.c_str());
    if (longer == nullptr) {
      throw std::bad_alloc();
    }
    if (!list) {
      list.reset(longer);  // the first record, which every later append returns
    }
  }
  return list;
}

// libcurl's own texts name no URL; the common ones are put shorter.
std::string Failure(CURLcode result, long osError) {
  switch (result) {
    case CURLE_OPERATION_TIMEDOUT:
      return "timed out";
    case CURLE_COULDNT_CONNECT:
      return osError == ECONNREFUSED ? "connection refused"
             : osError != 0          ? std::generic_category().message(static_cast<int>(osError))
                                     : "could not connect";
    case CURLE_COULDNT_RESOLVE_HOST:
      return "host name not found";
    case CURLE_PEER_FAILED_VERIFICATION:
      return "certificate not trusted";
    default:
      return curl_easy_strerror(result);
  }
}

class WebhookSink final : public EventSink {
 public:
  WebhookSink(const std::string& url, WebhookFormat format)
      : format_(format), handle_(curl_easy_init(), curl_easy_cleanup) {
    if (!handle_) {
      throw SystemError("--webhook: libcurl could not start");
    }
    CURL* handle = handle_.get();
    Set(handle, CURLOPT_URL, url.c_str());
    // Never anything but HTTP(S), and a redirect is an answer, not a place to
    // go: a 3xx confirms nothing.
    Set(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    Set(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    Set(handle, CURLOPT_FOLLOWLOCATION, 0L);
    // Time-outs without SIGALRM, which would reach the controller's threads.
    Set(handle, CURLOPT_NOSIGNAL, 1L);
    Set(handle, CURLOPT_POST, 1L);
    Set(handle, CURLOPT_WRITEFUNCTION, &DiscardBody);
    // Certificates: libcurl's defaults, the system's store, peer and host
    // verified; nothing here may loosen them.
  }

  [[nodiscard]] std::string_view Name() const override { return "webhook"; }

  Delivery Deliver(const QueuedEvent& queued, std::chrono::milliseconds bound) override {
    const WebhookRequest request = MakeWebhookRequest(queued, format_);
    const HeaderList headers = Headers(request.headers);
    // A time-out of 0 would be none at all.
    const long limit = std::max<long>(static_cast<long>(bound.count()), 1);
    std::size_t bodyRead = 0;
    const std::lock_guard lock(mutex_);
    CURL* handle = handle_.get();
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &bodyRead);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, limit);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, limit);
    const CURLcode result = curl_easy_perform(handle);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr);
    long status = 0;
    long osError = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &osError);
    // A 2xx confirms once its answer is read whole within the bound (or as
    // far as we care to read it): a receiver that trickles its body, or
    // promises more than it sends, has not answered in time.
    const bool answered =
        result == CURLE_OK || (result == CURLE_WRITE_ERROR && bodyRead > kBodyRead);
    const bool accepted = status >= 200 && status < 300;
    if (accepted && answered) {
      return {.confirmed = true};
    }
    return {.why = status != 0 && !accepted ? "HTTP " + std::to_string(status)
                                            : Failure(result, osError)};
  }

 private:
  WebhookFormat format_;
  std::mutex mutex_;  // one transfer at a time on the handle, which keeps the connection
  Handle handle_;
};

}  // namespace

std::unique_ptr<EventSink> MakeWebhookSink(const std::string& url, WebhookFormat format) {
  StartCurl();
  CheckWebhookUrl(url);
  return std::make_unique<WebhookSink>(url, format);
}

}  // namespace hostsweep::controller
