// The multicast echo request --ipv6 sends, and what counts as an answer to it,
// apart from the socket so that both can be checked from canned bytes.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "controller/system/ipv6_prober.h"
#include "controller/system/posix/neighbour_table.h"

namespace hostsweep::controller {

inline constexpr std::size_t kEchoHeaderBytes = 8;

// Type 128, code 0, the checksum left at zero for the kernel to fill in.
std::array<std::uint8_t, kEchoHeaderBytes> EchoRequest(std::uint16_t identifier,
                                                       std::uint16_t sequence);
// True for an ICMPv6 message (as a raw socket gives it, without the IPv6
// header) that is an echo reply to one of our requests.
bool IsEchoReplyTo(std::span<const std::uint8_t> message, std::uint16_t identifier);

struct Ipv6Prefix {
  Ipv6Bytes address{};
  int length = 0;
};

// fe80::/10.
bool IsLinkLocal(const Ipv6Bytes& address);
// An address of a node on the link: link-local, or in one of the prefixes the
// interface that heard it holds. A reply from anywhere else was routed.
bool IsOnLink(const Ipv6Bytes& source, const std::vector<Ipv6Prefix>& prefixes);
// Canonical text (RFC 5952); a link-local address gets "%interface".
std::string Ipv6Text(const Ipv6Bytes& address, const std::string& interfaceName);

// An on-link address that answered, and the interface it answered on.
struct Ipv6Answer {
  Ipv6Bytes address{};
  int interfaceIndex = 0;
  auto operator<=>(const Ipv6Answer&) const = default;
};

// Each answer that has a neighbour entry on the interface it answered on,
// with that entry's MAC; `names` gives the interfaces' names by index.
std::vector<Ipv6Neighbour> JoinAnswers(const std::vector<Ipv6Answer>& answers,
                                       const std::vector<Ipv6NeighbourEntry>& table,
                                       const std::map<int, std::string>& names);

}  // namespace hostsweep::controller
