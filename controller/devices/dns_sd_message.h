// DNS-SD (RFC 6763) as hostsweep asks a host's own mDNS responder: one
// question per datagram, sent to its port 5353 from an ordinary port (legacy
// unicast, RFC 6762 6.7), and a defensive reading of the answers. The host
// writes them, so counts, lengths and compression pointers are all bounded
// by the datagram and by a fixed number of records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "controller/base/address.h"

namespace hostsweep::controller {

using DnsName = std::vector<std::string>;  // label by label: an instance label may hold dots

inline constexpr std::uint16_t kAddressRecord = 1;
inline constexpr std::uint16_t kPtrRecord = 12;
inline constexpr std::uint16_t kTxtRecord = 16;
// Records read from one answer, all sections together; a responder with more
// to say than this about one question is not believed further.
inline constexpr std::size_t kMostRecordsPerAnswer = 64;
// TXT strings read from one record (RFC 6763 6.2 suggests a few hundred bytes in all).
inline constexpr std::size_t kMostTextStrings = 32;

// "_services._dns-sd._udp.local": whose PTR records list the service types
// the host offers (RFC 6763 9).
DnsName ServiceTypesName();
// ASCII case-insensitive, as DNS compares names.
bool SameName(const DnsName& a, const DnsName& b);

// One question for `name`'s records of `type`, unicast response asked for.
std::vector<std::uint8_t> EncodeQuestion(std::uint16_t id, const DnsName& name, std::uint16_t type);

struct DnsSdRecord {
  DnsName owner;
  std::uint16_t type = 0;
  DnsName target{};                  // a PTR record's
  std::vector<std::string> text{};   // a TXT record's strings ("key=value"), empty ones left out
  std::optional<Address> address{};  // an A record's
};

// The PTR, TXT and A records of every section of `datagram` when it is a
// well-formed response with `id`; nothing when it is not one or any record in
// it is malformed. Records past kMostRecordsPerAnswer are left unread.
std::optional<std::vector<DnsSdRecord>> ParseDnsSdAnswer(std::span<const std::uint8_t> datagram,
                                                         std::uint16_t id);

}  // namespace hostsweep::controller
