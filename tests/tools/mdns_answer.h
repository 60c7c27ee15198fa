// The responder's half of an mDNS reverse lookup, for the test responder and
// the fakes: reading the question, writing the answer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/mdns.h"

namespace hostsweep::mdns {

// A question a responder received.
struct Query {
  std::uint16_t id;
  std::string name;
};

// The PTR query in `datagram` (its first question), or nothing.
std::optional<Query> ParsePtrQuery(std::span<const std::uint8_t> datagram);

// A legacy unicast answer to `query`: the question echoed, then one PTR
// record naming `target`. Labels longer than DNS allows are split, so tests
// can make names of any length.
std::vector<std::uint8_t> EncodePtrAnswer(const Query& query, std::string_view target);

}  // namespace hostsweep::mdns
