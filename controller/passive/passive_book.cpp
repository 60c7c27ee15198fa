#include "controller/passive/passive_book.h"

namespace hostsweep::controller {
namespace {

template <typename Map>
void EraseOlderThan(Map& map, std::int64_t since, auto whenOf) {
  std::erase_if(map, [&](const auto& entry) { return whenOf(entry.second) < since; });
}

}  // namespace

PassiveVerdict PassiveBook::Weigh(const Sighting& sighting, const HolderOf& holderOf,
                                  std::int64_t now) {
  Forget(now);
  Device& device = devices_[sighting.mac];
  if (sighting.seenBy == SeenBy::kDhcp) {
    device.hostName = sighting.hostName.empty() ? device.hostName : sighting.hostName;
    device.vendorClass = sighting.vendorClass.empty() ? device.vendorClass : sighting.vendorClass;
  }
  if (!sighting.address) {
    return std::monostate{};  // kept for when it has an address
  }
  const Address address = *sighting.address;
  if (auto conflict = ConflictOf(sighting, address, holderOf, now)) {
    return FirstTime(*conflict, now) ? PassiveVerdict(*conflict) : std::monostate{};
  }
  const bool quiet =
      device.addresses.contains(address) && now - device.lastWeighed < kQuietAfterSighting;
  device.addresses.insert(address);
  claims_[address] = {.mac = sighting.mac, .when = now};
  if (quiet) {
    return std::monostate{};
  }
  device.lastWeighed = now;
  SeenHost host{.address = address,
                .name = sighting.hostName.empty() ? device.hostName : sighting.hostName,
                .mac = sighting.mac,
                .macSource = MacSource::kArp,
                .seenBy = sighting.seenBy};
  // A vendor class is the DHCP client's word, often its operating system's:
  // weak evidence, which the rules rank below what a device says of itself.
  if (rules_ != nullptr && !device.vendorClass.empty()) {
    const DeviceFacts facts =
        rules_->Apply({{.key = "dhcp:vendorClass", .value = device.vendorClass}});
    host.type = facts.type;
    host.model = facts.model;
  }
  return host;
}

std::string PassiveBook::DhcpNameOf(const MacAddress& mac) const {
  const auto device = devices_.find(mac);
  return device != devices_.end() ? device->second.hostName : std::string{};
}

std::optional<LinkConflict> PassiveBook::ConflictOf(const Sighting& sighting, Address address,
                                                    const HolderOf& holderOf, std::int64_t now) {
  std::optional<MacAddress> holder = holderOf(address);
  if (const auto claim = claims_.find(address);
      !holder && claim != claims_.end() && now - claim->second.when < kQuietAfterSighting) {
    holder = claim->second.mac;
  }
  if (holder && *holder != sighting.mac) {
    return LinkConflict{.address = address, .mac = *holder, .otherMac = sighting.mac};
  }
  const Device& device = devices_[sighting.mac];
  if (!device.addresses.contains(address) && device.addresses.size() >= kMostAddressesPerHost) {
    return LinkConflict{.mac = sighting.mac, .addresses = device.addresses.size() + 1};
  }
  return std::nullopt;
}

bool PassiveBook::FirstTime(const LinkConflict& conflict, std::int64_t now) {
  constexpr std::int64_t kMinute = 60;
  if (now / kMinute != minute_) {
    minute_ = now / kMinute;
    saidThisMinute_ = 0;
  }
  if (saidThisMinute_ >= kMostConflictsPerMinute) {
    return false;
  }
  if (said_.size() >= kMostRemembered) {
    said_.clear();  // said again, at worst, rather than remembered for ever
  }
  const bool first = said_.insert(ConflictKey(conflict)).second;
  saidThisMinute_ += first ? 1 : 0;
  return first;
}

void PassiveBook::Forget(std::int64_t now) {
  if (devices_.size() < kMostRemembered && claims_.size() < kMostRemembered) {
    return;
  }
  const std::int64_t since = now - kQuietAfterSighting;
  EraseOlderThan(devices_, since, [](const Device& device) { return device.lastWeighed; });
  EraseOlderThan(claims_, since, [](const Claim& claim) { return claim.when; });
  // A flood of fresh MACs: all forgotten at once, so each frame costs little.
  if (devices_.size() >= kMostRemembered) {
    devices_.clear();
  }
  if (claims_.size() >= kMostRemembered) {
    claims_.clear();
  }
}

}  // namespace hostsweep::controller
