#include "controller/model/seen_host.h"

#include <map>

namespace hostsweep::controller {

namespace {

std::optional<SeenBy> SeenByOf(Evidence evidence) {
  switch (evidence) {
    case Evidence::kEchoReply:
    case Evidence::kIpv6EchoReply:
      return SeenBy::kEcho;
    case Evidence::kArpReply:
    case Evidence::kNeighbourEntry:
      return SeenBy::kArp;
    default:
      return std::nullopt;
  }
}

}  // namespace

SeenHost SeenHostOf(const HostView& view) {
  return {.address = view.address,
          .name = view.name,
          .mac = view.mac,
          .macSource = view.macSource,
          .ipv6 = view.ipv6Only && !view.ipv6.empty() ? view.ipv6.front() : std::string{},
          .deviceIpv6 = view.ipv6,
          .macSharedBy = view.macSharedBy,
          .type = view.device.type,
          .model = view.device.model,
          .services = view.deviceAsked ? std::optional(view.device.services) : std::nullopt,
          .seenBy = SeenByOf(view.evidence)};
}

std::string AddressText(const SeenHost& host) {
  return host.ipv6.empty() ? FormatAddress(host.address) : host.ipv6;
}

bool SetRowAddress(SeenHost& host, std::string_view text) {
  if (const auto ipv4 = ParseAddress(text)) {
    host.address = *ipv4;
    host.ipv6.clear();
    return true;
  }
  if (!IsIpv6Text(text)) {
    return false;
  }
  host.address = 0;
  host.ipv6 = text;
  return true;
}

bool NamesDevice(const MacAddress& mac) {
  return !IsPlaceholderMac(mac) && !IsLocallyAdministered(mac);
}

std::optional<MacAddress> OwnMac(const SeenHost& host) {
  return host.mac && !IsPlaceholderMac(*host.mac) && !host.macSharedBy ? host.mac : std::nullopt;
}

std::optional<MacAddress> DeviceMac(const SeenHost& host) {
  const auto mac = OwnMac(host);
  return mac && NamesDevice(*mac) ? mac : std::nullopt;
}

HostKeys KeysOf(const SeenHost& host) {
  HostKeys keys{.mac = DeviceMac(host), .addresses = {AddressText(host)}};
  for (const std::string& address : host.deviceIpv6) {
    if (address != keys.addresses.front()) {
      keys.addresses.push_back(address);
    }
  }
  return keys;
}

void CountSharedMacs(const std::vector<SeenHost*>& hosts) {
  std::map<MacAddress, std::size_t> holders;
  for (const SeenHost* host : hosts) {
    if (host->mac) {
      ++holders[*host->mac];
    }
  }
  for (SeenHost* host : hosts) {
    if (const std::size_t count = host->mac ? holders[*host->mac] : 0;
        !host->macSharedBy && count > kMostAddressesPerHost) {
      host->macSharedBy = count;
    }
  }
}

}  // namespace hostsweep::controller
