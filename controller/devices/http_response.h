// The answer to the one GET that fetches a device's description: read as it
// comes, the body framed by Content-Length, chunks or the connection's end,
// and refused when it is anything but 200 (no redirect is followed) or
// larger than a description needs to be.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "controller/devices/ssdp_message.h"

namespace hostsweep::controller {

inline constexpr std::size_t kMostDescriptionBytes = 64 * 1024;
// What the fetch reads at most: the head, the body, and chunk framing.
inline constexpr std::size_t kMostResponseBytes = 2 * kMostDescriptionBytes;

// "GET /path HTTP/1.1" to the device itself, asking it to close after.
std::string HttpGetRequest(const DescriptionUrl& url);

enum class HttpOutcome { kIncomplete, kBody, kRefused };

struct HttpReading {
  HttpOutcome outcome = HttpOutcome::kIncomplete;
  std::string body{};
};

// What `received` so far amounts to; `closed`: the device has closed the
// connection, so nothing more will come.
HttpReading ReadHttpResponse(std::string_view received, bool closed);

}  // namespace hostsweep::controller
