// A small HTTP server that answers from one page held in memory
// (--metrics-listen), in a thread of its own so that it answers during
// sweeps too: one platform half each.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace hostsweep::controller {

// What a request may cost the server: a client that sends more, or is
// slower, is answered from what it sent, or dropped. The answer itself gets
// more time, as a large page to a slow client may need it.
inline constexpr std::size_t kMostRequestBytes = 8 * 1024;
inline constexpr std::chrono::milliseconds kRequestTime{2000};
inline constexpr std::chrono::milliseconds kAnswerTime{10000};
// Connections open at once: one more closes the oldest that has not sent its
// request yet, so that idle clients can neither keep a scrape out nor cost
// more than this many requests' and answers' memory.
inline constexpr std::size_t kMostConnections = 256;

// The whole response (status line, headers, body) to a request's head (its
// bytes up to the blank line that ends the headers, or what came within the
// bounds), given the page last published.
using HttpAnswer = std::function<std::string(std::string_view request, std::string_view page)>;

class HttpServer {
 public:
  HttpServer() = default;
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  // Stops serving and waits for its thread: nothing is left running.
  virtual ~HttpServer() = default;
  // The page from now on (empty until the first); a request being answered
  // keeps the one it began with.
  virtual void Publish(std::string page) = 0;
};

// Listens on `host` (an IPv4 or IPv6 address in numbers, never a name to look
// up) at `port`, and answers its connections side by side, closing each after
// its answer. `answer` runs in the server's thread, which takes no signal: they
// reach the thread that waits for them as before. Throws UsageError for a
// host that is no address, SystemError when it cannot listen there.
std::unique_ptr<HttpServer> ServeHttp(const std::string& host, std::uint16_t port,
                                      HttpAnswer answer);

}  // namespace hostsweep::controller
