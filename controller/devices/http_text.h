// The head of an HTTP/1.1 message (RFC 9112), as SSDP answers and the
// description fetch both carry it: the status line and the header fields,
// read from bytes a device wrote, within fixed bounds.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace hostsweep::controller {

// More than any device's head needs; a longer one is refused.
inline constexpr std::size_t kMostHeadBytes = 8192;
inline constexpr std::size_t kMostHeaderFields = 64;

struct HttpHead {
  int status = 0;
  std::vector<std::pair<std::string_view, std::string_view>> fields;  // views into the text
  std::size_t end = 0;                                                // where the body starts

  // The first field named `name` (any case), its value trimmed; empty when none.
  [[nodiscard]] std::string_view Header(std::string_view name) const;
};

// The head of `text`, up to its blank line; with `whole`, a message that ends
// without one (a datagram) ends its head there. Nothing when there is no head
// yet or it is malformed or too long.
std::optional<HttpHead> ReadHttpHead(std::string_view text, bool whole);

}  // namespace hostsweep::controller
