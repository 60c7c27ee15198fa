// Link-layer (MAC) addresses, written one way in every output: lower-case hex
// pairs joined by colons, as `ip neigh` and arp-scan write them, so that one
// MAC can be looked for across tools.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hostsweep::controller {

using MacAddress = std::array<std::uint8_t, 6>;

// "00:1a:2b:3c:4d:5e".
std::string FormatMac(const MacAddress& mac);
// "00:1A:2B:3C:4D:5E", as nmap writes MACs in its XML.
std::string FormatNmapMac(const MacAddress& mac);
// "00:1a:2b:3c:4d:5e" or "00-1A-2B-3C-4D-5E" (the worker's reports, and
// earlier hostsweep files), either case; nothing for any other text.
std::optional<MacAddress> ParseMac(std::string_view text);
// All zeros or all ones: what a host sends when it does not know its own
// address (Samba's NetBIOS unit ID) or a junk reply; not a real address.
bool IsPlaceholderMac(const MacAddress& mac);
// Bit 0x02 of the first octet: randomised phone addresses, virtual machines,
// containers. No maker owns these.
bool IsLocallyAdministered(const MacAddress& mac);

}  // namespace hostsweep::controller
