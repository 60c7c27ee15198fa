#include "controller/devices/ssdp_message.h"

#include <algorithm>
#include <charconv>

#include "controller/devices/ascii_text.h"
#include "controller/devices/http_text.h"

namespace hostsweep::controller {
namespace {

constexpr std::string_view kHttp = "http://";
// A path longer than this is no device's description.
constexpr std::size_t kMostPathLength = 1024;

}  // namespace

std::string SsdpSearchRequest() {
  return "M-SEARCH * HTTP/1.1\r\n"
         "HOST: 239.255.255.250:1900\r\n"
         "MAN: \"ssdp:discover\"\r\n"
         "MX: 1\r\n"
         "ST: ssdp:all\r\n"
         "\r\n";
}

std::optional<SsdpAnswer> ParseSsdpAnswer(std::span<const std::uint8_t> datagram) {
  const std::string_view text(reinterpret_cast<const char*>(datagram.data()), datagram.size());
  const auto head = ReadHttpHead(text, true);
  if (!head || head->status != 200) {
    return std::nullopt;
  }
  const auto location = head->Header("location");
  if (location.empty()) {
    return std::nullopt;
  }
  return SsdpAnswer{std::string(location), std::string(head->Header("st"))};
}

std::optional<DescriptionUrl> DescriptionOn(std::string_view location, Address from) {
  if (location.size() < kHttp.size() || !SameText(location.substr(0, kHttp.size()), kHttp)) {
    return std::nullopt;
  }
  location.remove_prefix(kHttp.size());
  const auto slash = location.find('/');
  const auto authority = location.substr(0, slash);
  DescriptionUrl url{.host = 0, .port = 80, .path = "/"};
  if (slash != std::string_view::npos) {
    url.path = std::string(location.substr(slash));
  }
  const auto colon = authority.find(':');
  const auto host = ParseAddress(authority.substr(0, colon));
  if (colon != std::string_view::npos) {
    const auto port = authority.substr(colon + 1);
    const auto [rest, error] = std::from_chars(port.data(), port.data() + port.size(), url.port);
    if (port.empty() || error != std::errc{} || rest != port.data() + port.size() ||
        url.port == 0) {
      return std::nullopt;
    }
  }
  // Control characters and spaces would split the request line we send.
  const bool plainPath = std::all_of(url.path.begin(), url.path.end(), [](char c) {
    return static_cast<unsigned char>(c) > ' ' && c != '\x7f';
  });
  if (!host || *host != from || url.path.size() > kMostPathLength || !plainPath) {
    return std::nullopt;
  }
  url.host = *host;
  return url;
}

}  // namespace hostsweep::controller
