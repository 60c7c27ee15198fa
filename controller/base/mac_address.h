// Link-layer (MAC) addresses, written as the worker writes them: upper-case
// hex pairs joined by hyphens.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hostsweep::controller {

using MacAddress = std::array<std::uint8_t, 6>;

// Upper-case hex pairs joined by `separator` (nmap's XML joins them by ':').
std::string FormatMac(const MacAddress& mac, char separator = '-');
// "00-1A-2B-3C-4D-5E" (either case); nothing for any other text.
std::optional<MacAddress> ParseMac(std::string_view text);
// All zeros or all ones: what a host sends when it does not know its own
// address (Samba's NetBIOS unit ID) or a junk reply; not a real address.
bool IsPlaceholderMac(const MacAddress& mac);
// Bit 0x02 of the first octet: randomised phone addresses, virtual machines,
// containers. No maker owns these.
bool IsLocallyAdministered(const MacAddress& mac);

}  // namespace hostsweep::controller
