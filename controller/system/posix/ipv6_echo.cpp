#include "controller/system/posix/ipv6_echo.h"

#include <arpa/inet.h>
#include <netinet/icmp6.h>

#include <algorithm>

namespace hostsweep::controller {
namespace {

constexpr unsigned kByteBits = 8;
constexpr std::uint8_t kLinkLocalFirst = 0xfe;
constexpr std::uint8_t kLinkLocalSecond = 0x80;
constexpr std::uint8_t kLinkLocalSecondMask = 0xc0;

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] << kByteBits | bytes[at + 1]);
}

}  // namespace

std::array<std::uint8_t, kEchoHeaderBytes> EchoRequest(std::uint16_t identifier,
                                                       std::uint16_t sequence) {
  return {ICMP6_ECHO_REQUEST,
          0,
          0,
          0,
          static_cast<std::uint8_t>(identifier >> kByteBits),
          static_cast<std::uint8_t>(identifier),
          static_cast<std::uint8_t>(sequence >> kByteBits),
          static_cast<std::uint8_t>(sequence)};
}

bool IsEchoReplyTo(std::span<const std::uint8_t> message, std::uint16_t identifier) {
  constexpr std::size_t kIdentifierAt = 4;
  return message.size() >= kEchoHeaderBytes && message[0] == ICMP6_ECHO_REPLY && message[1] == 0 &&
         Read16(message, kIdentifierAt) == identifier;
}

bool IsLinkLocal(const Ipv6Bytes& address) {
  return address[0] == kLinkLocalFirst && (address[1] & kLinkLocalSecondMask) == kLinkLocalSecond;
}

bool IsOnLink(const Ipv6Bytes& source, const std::vector<Ipv6Prefix>& prefixes) {
  const auto inPrefix = [&source](const Ipv6Prefix& prefix) {
    for (int bit = 0; bit < prefix.length; ++bit) {
      const auto byte = static_cast<std::size_t>(bit) / kByteBits;
      const auto mask =
          static_cast<std::uint8_t>(0x80U >> (static_cast<unsigned>(bit) % kByteBits));
      if ((source[byte] & mask) != (prefix.address[byte] & mask)) {
        return false;
      }
    }
    return true;
  };
  return IsLinkLocal(source) || std::any_of(prefixes.begin(), prefixes.end(), inPrefix);
}

std::string Ipv6Text(const Ipv6Bytes& address, const std::string& interfaceName) {
  std::array<char, INET6_ADDRSTRLEN> text{};
  inet_ntop(AF_INET6, address.data(), text.data(), text.size());
  return std::string(text.data()) + (IsLinkLocal(address) ? "%" + interfaceName : "");
}

std::vector<Ipv6Neighbour> JoinAnswers(const std::vector<Ipv6Answer>& answers,
                                       const std::vector<Ipv6NeighbourEntry>& table,
                                       const std::map<int, std::string>& names) {
  std::vector<Ipv6Neighbour> neighbours;
  for (const auto& answer : answers) {
    const auto entry = std::find_if(table.begin(), table.end(), [&answer](const auto& e) {
      return e.address == answer.address && e.interfaceIndex == answer.interfaceIndex;
    });
    const auto name = names.find(answer.interfaceIndex);
    if (entry == table.end() || name == names.end()) {
      continue;
    }
    neighbours.push_back({.address = Ipv6Text(answer.address, name->second),
                          .mac = entry->mac,
                          .linkLocal = IsLinkLocal(answer.address)});
  }
  return neighbours;
}

}  // namespace hostsweep::controller
