#include "controller/devices/http_response.h"

#include <charconv>
#include <optional>

#include "controller/devices/ascii_text.h"
#include "controller/devices/http_text.h"

namespace hostsweep::controller {
namespace {

constexpr int kOk = 200;
constexpr int kHex = 16;

// The chunks of `body` joined; kIncomplete while the last chunk has not come.
HttpReading Unchunk(std::string_view body) {
  HttpReading reading;
  for (;;) {
    const auto lineEnd = body.find("\r\n");
    if (lineEnd == std::string_view::npos) {
      return {body.size() > kMostHeadBytes ? HttpOutcome::kRefused : HttpOutcome::kIncomplete};
    }
    const auto sizeText = body.substr(0, std::min(lineEnd, body.find(';')));
    std::size_t size = 0;
    const auto [rest, error] =
        std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size, kHex);
    if (sizeText.empty() || error != std::errc{} || rest != sizeText.data() + sizeText.size() ||
        size > kMostDescriptionBytes - reading.body.size()) {
      return {HttpOutcome::kRefused};
    }
    body.remove_prefix(lineEnd + 2);
    if (size == 0) {  // the trailer fields, if any, are not needed
      reading.outcome = HttpOutcome::kBody;
      return reading;
    }
    if (body.size() < size + 2) {
      return {HttpOutcome::kIncomplete};
    }
    if (body.substr(size, 2) != "\r\n") {
      return {HttpOutcome::kRefused};
    }
    reading.body.append(body.substr(0, size));
    body.remove_prefix(size + 2);
  }
}

std::optional<std::size_t> LengthOf(std::string_view text) {
  std::size_t length = 0;
  const auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), length);
  if (text.empty() || error != std::errc{} || rest != text.data() + text.size()) {
    return std::nullopt;
  }
  return length;
}

}  // namespace

std::string HttpGetRequest(const DescriptionUrl& url) {
  return "GET " + url.path + " HTTP/1.1\r\nHost: " + FormatAddress(url.host) + ":" +
         std::to_string(url.port) + "\r\nConnection: close\r\nUser-Agent: hostsweep\r\n\r\n";
}

HttpReading ReadHttpResponse(std::string_view received, bool closed) {
  if (received.size() > kMostResponseBytes) {
    return {HttpOutcome::kRefused};
  }
  const auto head = ReadHttpHead(received, false);
  if (!head) {
    // A blank line came, so the head is there, and malformed.
    const bool hopeless = closed || received.size() > kMostHeadBytes ||
                          received.find("\n\r\n") != std::string_view::npos ||
                          received.find("\n\n") != std::string_view::npos;
    return {hopeless ? HttpOutcome::kRefused : HttpOutcome::kIncomplete};
  }
  if (head->status != kOk) {
    return {HttpOutcome::kRefused};
  }
  const auto body = received.substr(head->end);
  HttpReading reading;
  if (SameText(head->Header("transfer-encoding"), "chunked")) {
    reading = Unchunk(body);
  } else if (const auto field = head->Header("content-length"); !field.empty()) {
    const auto length = LengthOf(field);
    if (!length || *length > kMostDescriptionBytes) {
      return {HttpOutcome::kRefused};
    }
    if (body.size() >= *length) {
      reading = {HttpOutcome::kBody, std::string(body.substr(0, *length))};
    }
  } else if (body.size() > kMostDescriptionBytes) {
    return {HttpOutcome::kRefused};
  } else if (closed) {
    reading = {HttpOutcome::kBody, std::string(body)};
  }
  if (reading.outcome == HttpOutcome::kIncomplete && closed) {
    return {HttpOutcome::kRefused};
  }
  return reading;
}

}  // namespace hostsweep::controller
