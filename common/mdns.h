// Multicast DNS reverse lookups (RFC 6762) as hostsweep asks them: one PTR
// question for "d.c.b.a.in-addr.arpa" sent straight to the host's port 5353
// from an ordinary port, which makes it a legacy unicast query (section 6.7):
// the responder answers to that port, with the query's ID and the question.
// Answers come from whoever is on the network, so every read is bounded by
// the datagram and a name never grows past what DNS allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hostsweep::mdns {

inline constexpr std::uint16_t kPort = 5353;
// RFC 1035: a name is at most 255 octets on the wire, a label at most 63.
inline constexpr std::size_t kMaxNameLength = 255;
inline constexpr std::size_t kMaxLabelLength = 63;

// "d.c.b.a.in-addr.arpa" for a.b.c.d, `address` in host byte order.
std::string ReverseName(std::uint32_t address);

// A PTR question for `name` with the unicast-response bit set.
std::vector<std::uint8_t> EncodePtrQuery(std::uint16_t id, std::string_view name);

// The name a PTR record for `question` in `datagram` points to, when the
// datagram is a well-formed positive answer with `id`; nothing otherwise.
std::optional<std::string> ParsePtrAnswer(std::span<const std::uint8_t> datagram, std::uint16_t id,
                                          std::string_view question);

}  // namespace hostsweep::mdns
