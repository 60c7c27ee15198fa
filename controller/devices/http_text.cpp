#include "controller/devices/http_text.h"

#include <algorithm>
#include <charconv>

#include "controller/devices/ascii_text.h"

namespace hostsweep::controller {
namespace {

constexpr std::string_view kSpaces = " \t";
constexpr std::string_view kVersion = "HTTP/1.";
constexpr std::size_t kStatusDigits = 3;

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(kSpaces);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(kSpaces) - first + 1);
}

// "HTTP/1.1 200 OK": the status code.
std::optional<int> StatusOf(std::string_view line) {
  if (line.size() < kVersion.size() + 2 + kStatusDigits || !line.starts_with(kVersion) ||
      line[kVersion.size() + 1] != ' ') {
    return std::nullopt;
  }
  const auto digits = line.substr(kVersion.size() + 2, kStatusDigits);
  int status = 0;
  const auto [rest, error] = std::from_chars(digits.data(), digits.data() + digits.size(), status);
  if (error != std::errc{} || rest != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return status;
}

}  // namespace

std::string_view HttpHead::Header(std::string_view name) const {
  const auto found = std::find_if(fields.begin(), fields.end(),
                                  [&](const auto& field) { return SameText(field.first, name); });
  return found == fields.end() ? std::string_view{} : found->second;
}

std::optional<HttpHead> ReadHttpHead(std::string_view text, bool whole) {
  HttpHead head;
  std::size_t at = 0;
  for (bool first = true;; first = false) {
    const auto newline = text.find('\n', at);
    if (at >= text.size() || (newline == std::string_view::npos && !whole)) {
      // A whole message may end where its fields do.
      if (!whole || first || at < text.size()) {
        return std::nullopt;
      }
      head.end = text.size();
      return head;
    }
    const auto lineEnd = std::min(newline, text.size());
    auto line = text.substr(at, lineEnd - at);
    at = newline == std::string_view::npos ? text.size() : newline + 1;
    if (at > kMostHeadBytes) {
      return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (first) {
      const auto status = StatusOf(line);
      if (!status) {
        return std::nullopt;
      }
      head.status = *status;
    } else if (line.empty()) {
      head.end = at;
      return head;
    } else {
      const auto colon = line.find(':');
      if (colon == std::string_view::npos || colon == 0 ||
          head.fields.size() >= kMostHeaderFields) {
        return std::nullopt;
      }
      head.fields.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }
  }
}

}  // namespace hostsweep::controller
