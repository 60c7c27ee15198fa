#include "controller/passive/present_hosts.h"

#include <functional>

namespace hostsweep::controller {

PresentHosts::PresentHosts(const std::vector<KnownHost>& known) {
  for (std::size_t i = 0; i < known.size(); ++i) {
    const auto mac = OwnMac(known[i].host);
    if (known[i].present && mac) {
      holders_.emplace(known[i].host.address, *mac);
      records_.emplace(*mac, i);
    }
  }
}

std::optional<MacAddress> PresentHosts::HolderOf(Address address) const {
  const auto found = holders_.find(address);
  return found == holders_.end() ? std::nullopt : std::optional(found->second);
}

std::optional<std::size_t> PresentHosts::RecordOf(const MacAddress& mac) const {
  const auto found = records_.find(mac);
  return found == records_.end() ? std::nullopt : std::optional(found->second);
}

std::size_t PresentHosts::MacHash::operator()(const MacAddress& mac) const {
  std::uint64_t value = 0;
  for (const std::uint8_t octet : mac) {
    value = (value << 8U) | octet;
  }
  return std::hash<std::uint64_t>{}(value);
}

}  // namespace hostsweep::controller
