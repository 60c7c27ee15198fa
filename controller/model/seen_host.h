// A host as far as telling it apart goes, and the one rule every feature
// tells hosts apart by: a comparison, the watch and its state, the inventory
// (--known), its missing devices, and MQTT's device registry.
//
// A host is known by its MAC address where that names one device: real,
// globally administered, and answering for no more addresses than a host
// holds. A locally administered one (a phone's randomised address, a
// container's) names no device for long, and one a proxy answers with for a
// whole range names none of the hosts behind it; such hosts, and hosts
// without a MAC, are known by their addresses: the row's (IPv4, or the IPv6
// address of a device heard over IPv6 alone), then the device's IPv6 ones.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controller/base/results.h"
#include "controller/base/seen_by.h"

namespace hostsweep::controller {

struct SeenHost {
  Address address = 0;
  std::string name{};
  std::optional<MacAddress> mac{};
  MacSource macSource = MacSource::kNone;
  std::string ipv6{};  // a device heard over IPv6 alone: its row's address
  // The IPv6 addresses of its device (--ipv6), a dual-stack one's too.
  std::vector<std::string> deviceIpv6{};
  // How many addresses its MAC answered for, when more than a host holds.
  std::optional<std::size_t> macSharedBy{};
  // What it said it is; never what tells it apart.
  std::string type{};
  std::string model{};
  // The DNS-SD service types it announced, sorted; none where the sweep did
  // not ask the device (--no-types, a host heard between sweeps).
  std::optional<std::vector<std::string>> services{};
  // How it was last seen: a sweep's echo or ARP answer (its row's evidence
  // in those words), or a frame it sent between sweeps; none where unknown.
  std::optional<SeenBy> seenBy{};
  bool operator==(const SeenHost&) const = default;
};

SeenHost SeenHostOf(const HostView& view);

// Last seen by a frame it sent of its own accord, not by a sweep's answer.
inline bool HeardBetweenSweeps(const SeenHost& host) {
  return host.seenBy && HeardUnasked(*host.seenBy);
}

// The host's address as its row shows it.
std::string AddressText(const SeenHost& host);

// `text` as the host's row address: IPv4, else the IPv6 address of a device
// heard over IPv6 alone; false for neither.
bool SetRowAddress(SeenHost& host, std::string_view text);

// Real and globally administered: a MAC that can name one device.
bool NamesDevice(const MacAddress& mac);

// The MAC the host answered with, where the answer was its own: not one a
// proxy gave for a whole range. An inventory row's MAC is the user's word
// for one device and is matched against this, randomised or not.
std::optional<MacAddress> OwnMac(const SeenHost& host);

// The host's MAC where it names the host's device; nothing otherwise.
std::optional<MacAddress> DeviceMac(const SeenHost& host);

// What a host is looked up by: its device's MAC, else its addresses.
struct HostKeys {
  std::optional<MacAddress> mac{};
  std::vector<std::string> addresses{};  // the row's first
};

HostKeys KeysOf(const SeenHost& host);

// Hosts read back from what kept no count (an earlier sweep's XML, the
// state database) counted again: a MAC more of them share than a host holds
// addresses has its count set on each.
void CountSharedMacs(const std::vector<SeenHost*>& hosts);

}  // namespace hostsweep::controller
