// SSDP (UPnP Device Architecture 2.0, section 1.3): the one search hostsweep
// multicasts on each swept link, a defensive reading of the answers, and
// which description URL of an answer may be fetched: only plain http on the
// answering host's own address, so that an answer cannot send the fetch to
// a third party.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "controller/base/address.h"

namespace hostsweep::controller {

inline constexpr Address kSsdpGroup = 0xEFFFFFFA;  // 239.255.255.250
inline constexpr std::uint16_t kSsdpPort = 1900;

// M-SEARCH for every device and service (ST: ssdp:all), answers within a second (MX: 1).
std::string SsdpSearchRequest();

struct SsdpAnswer {
  std::string location;  // LOCATION: the device's description URL
  std::string target;    // ST: what the answer is for ("upnp:rootdevice", a device type ...)
};

// A "HTTP/1.1 200 OK" answer with a LOCATION; header names in any case.
std::optional<SsdpAnswer> ParseSsdpAnswer(std::span<const std::uint8_t> datagram);

struct DescriptionUrl {
  Address host;
  std::uint16_t port;
  std::string path;  // "/" when the URL has none
};

// `location` as http://a.b.c.d[:port][/path] on `from` itself; nothing otherwise.
std::optional<DescriptionUrl> DescriptionOn(std::string_view location, Address from);

}  // namespace hostsweep::controller
