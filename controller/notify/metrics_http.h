// --metrics-listen's decisions, kept apart from its socket: where it listens
// and what it answers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hostsweep::controller {

struct ListenAddress {
  std::string host{};  // in numbers; an IPv6 address without its brackets
  std::uint16_t port = 0;
};

// "PORT", "ADDR:PORT" or "[V6]:PORT"; the loopback address when none is
// given, as the metrics are no one else's business unless said so. Throws
// UsageError, naming `option`, for anything else, and for port 0.
ListenAddress ParseListenAddress(std::string_view text,
                                 std::string_view option = "--metrics-listen");

// The whole HTTP response to a request's head: `page` for GET /metrics, 404
// for another path, 405 for another method, 400 for what is no request.
std::string MetricsResponse(std::string_view request, std::string_view page);

}  // namespace hostsweep::controller
