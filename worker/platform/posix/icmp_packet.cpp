#include "platform/posix/icmp_packet.h"

#include <netinet/in.h>
#include <netinet/ip_icmp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace hostsweep::icmp_packet {
namespace {

std::uint16_t ReadBigEndian16(const unsigned char* bytes) {
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

void PutBigEndian16(unsigned char* bytes, std::uint16_t value) {
  bytes[0] = static_cast<unsigned char>(value >> 8);
  bytes[1] = static_cast<unsigned char>(value & 0xFF);
}

// The length an IP header gives itself, or 0 when `packet` cannot hold that
// header and an ICMP header after it.
std::size_t IpHeaderLength(std::span<const unsigned char> packet) {
  if (packet.size() < kIpHeaderSize) {
    return 0;
  }
  const std::size_t length = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
  return length >= kIpHeaderSize && packet.size() >= length + kIcmpHeaderSize ? length : 0;
}

bool QuotesRequest(std::span<const unsigned char> quoted, const Request& request) {
  const std::size_t ipLength = IpHeaderLength(quoted);
  if (ipLength == 0) {
    return false;
  }
  os::IPAddr quotedDestination = 0;
  std::memcpy(&quotedDestination, &quoted[16], sizeof quotedDestination);
  const auto echo = quoted.subspan(ipLength);
  return quoted[9] == IPPROTO_ICMP && quotedDestination == request.destination &&
         echo[0] == ICMP_ECHO && ReadBigEndian16(&echo[4]) == request.identifier &&
         ReadBigEndian16(&echo[6]) == request.sequence;
}

}  // namespace

std::uint16_t Checksum(std::span<const unsigned char> bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
  }
  if (bytes.size() % 2 != 0) {
    sum += static_cast<std::uint32_t>(bytes.back() << 8);
  }
  while (sum >> 16 != 0) {
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<std::uint16_t>(~sum);
}

std::vector<unsigned char> EncodeEchoRequest(const Request& request,
                                             std::span<const unsigned char> data) {
  // The bound also tells GCC 12 at -O3 that the size below cannot wrap.
  data = data.first(std::min(data.size(), kMostEchoData));
  std::vector<unsigned char> message(kIcmpHeaderSize + data.size());
  message[0] = ICMP_ECHO;
  PutBigEndian16(&message[4], request.identifier);
  PutBigEndian16(&message[6], request.sequence);
  std::copy(data.begin(), data.end(), message.begin() + kIcmpHeaderSize);
  PutBigEndian16(&message[2], Checksum(message));
  return message;
}

os::ULONG StatusOfIcmpError(int type, int code) {
  if (type == ICMP_TIME_EXCEEDED) {
    return os::IP_TTL_EXPIRED_TRANSIT;
  }
  switch (code) {
    case ICMP_NET_UNREACH:
      return os::IP_DEST_NET_UNREACHABLE;
    case ICMP_PROT_UNREACH:
      return os::IP_DEST_PROT_UNREACHABLE;
    case ICMP_PORT_UNREACH:
      return os::IP_DEST_PORT_UNREACHABLE;
    default:
      return os::IP_DEST_HOST_UNREACHABLE;
  }
}

os::ULONG StatusOfErrno(int error) {
  switch (error) {
    case ENETUNREACH:
      return os::IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return os::IP_DEST_HOST_UNREACHABLE;
    default:
      return os::IP_GENERAL_FAILURE;
  }
}

std::optional<Outcome> MatchRaw(std::span<const unsigned char> packet, const Request& request) {
  const std::size_t ipLength = IpHeaderLength(packet);
  if (ipLength == 0) {
    return std::nullopt;
  }
  os::IPAddr source = 0;
  std::memcpy(&source, &packet[12], sizeof source);
  const os::UCHAR ttl = packet[8];
  const auto icmp = packet.subspan(ipLength);
  if (icmp[0] == ICMP_ECHOREPLY) {
    if (source != request.destination || ReadBigEndian16(&icmp[4]) != request.identifier ||
        ReadBigEndian16(&icmp[6]) != request.sequence) {
      return std::nullopt;
    }
    return Outcome{os::IP_SUCCESS, source, ttl, icmp.subspan(kIcmpHeaderSize)};
  }
  // An error quotes the request it is about: its IP header, then its ICMP header.
  if ((icmp[0] != ICMP_DEST_UNREACH && icmp[0] != ICMP_TIME_EXCEEDED) ||
      !QuotesRequest(icmp.subspan(kIcmpHeaderSize), request)) {
    return std::nullopt;
  }
  return Outcome{StatusOfIcmpError(icmp[0], icmp[1]), source, ttl, {}};
}

std::optional<Outcome> MatchDatagram(std::span<const unsigned char> icmp, os::IPAddr source,
                                     os::UCHAR ttl, const Request& request) {
  if (icmp.size() < kIcmpHeaderSize || icmp[0] != ICMP_ECHOREPLY || source != request.destination ||
      ReadBigEndian16(&icmp[6]) != request.sequence) {
    return std::nullopt;
  }
  return Outcome{os::IP_SUCCESS, source, ttl, icmp.subspan(kIcmpHeaderSize)};
}

std::optional<Outcome> MatchQueuedError(std::span<const unsigned char> quoted, os::IPAddr target,
                                        const std::optional<QueuedError>& error,
                                        const Request& request) {
  if (quoted.size() < kIcmpHeaderSize || target != request.destination ||
      (request.identifier != 0 && ReadBigEndian16(&quoted[4]) != request.identifier) ||
      ReadBigEndian16(&quoted[6]) != request.sequence || !error) {
    return std::nullopt;
  }
  const os::ULONG status = error->fromIcmp ? StatusOfIcmpError(error->type, error->code)
                                           : StatusOfErrno(static_cast<int>(error->error));
  return Outcome{status, request.destination, 0, {}};
}

}  // namespace hostsweep::icmp_packet
