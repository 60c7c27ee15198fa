#include "controller/passive/sighting.h"

#include <algorithm>

#include "controller/devices/dns_sd_message.h"
#include "controller/devices/ssdp_message.h"
#include "controller/link/arp_frame.h"

namespace hostsweep::controller {
namespace {

constexpr std::size_t kEthernetHeader = 14;
constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint8_t kUdp = 17;
constexpr std::size_t kUdpHeader = 8;
constexpr std::uint16_t kDhcpServerPort = 67;
constexpr std::uint16_t kDhcpClientPort = 68;
constexpr std::uint16_t kMdnsPort = 5353;

// BOOTP's fixed part (RFC 2131 2) and the options after its magic cookie.
constexpr std::size_t kCiaddrOffset = 12;
constexpr std::size_t kChaddrOffset = 28;
constexpr std::size_t kCookieOffset = 236;
constexpr std::array<std::uint8_t, 4> kMagicCookie{99, 130, 83, 99};
constexpr std::uint8_t kBootRequest = 1;
constexpr std::uint8_t kEthernetHardware = 1;
constexpr std::uint8_t kPadOption = 0;
constexpr std::uint8_t kEndOption = 255;
constexpr std::uint8_t kHostNameOption = 12;
constexpr std::uint8_t kRequestedAddressOption = 50;
constexpr std::uint8_t kMessageTypeOption = 53;
constexpr std::uint8_t kParameterListOption = 55;
constexpr std::uint8_t kVendorClassOption = 60;
// DISCOVER, REQUEST and INFORM say the client is there; DECLINE and RELEASE
// that it is giving an address up.
constexpr std::array<std::uint8_t, 3> kPresenceMessages{1, 3, 8};

constexpr std::uint16_t kResponseFlag = 0x8000;
constexpr std::string_view kNotifyLine = "NOTIFY * HTTP/1.1\r\n";

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>((bytes[at] << 8U) | bytes[at + 1]);
}

Address Read32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return (Address{bytes[at]} << 24U) | (Address{bytes[at + 1]} << 16U) |
         (Address{bytes[at + 2]} << 8U) | Address{bytes[at + 3]};
}

MacAddress MacAt(std::span<const std::uint8_t> bytes, std::size_t at) {
  MacAddress mac{};
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), mac.size(), mac.begin());
  return mac;
}

// A device's own unicast MAC: not a group, not a placeholder.
bool IsDeviceMac(const MacAddress& mac) { return (mac[0] & 1U) == 0 && !IsPlaceholderMac(mac); }

struct UdpDatagram {
  MacAddress source{};
  Address from = 0;
  std::uint16_t fromPort = 0;
  std::uint16_t toPort = 0;
  std::span<const std::uint8_t> payload;
};

// A whole, unfragmented IPv4 UDP datagram in an Ethernet frame.
std::optional<UdpDatagram> UdpOf(std::span<const std::uint8_t> frame) {
  constexpr std::size_t kLeastIpHeader = 20;
  constexpr std::uint16_t kFragmentBits = 0x3fff;  // more fragments, and the offset
  if (frame.size() < kEthernetHeader + kLeastIpHeader || Read16(frame, 12) != kEtherTypeIpv4) {
    return std::nullopt;
  }
  const auto ip = frame.subspan(kEthernetHeader);
  const std::size_t headerLength = std::size_t{ip[0] & 0x0fU} * 4U;
  if ((ip[0] >> 4U) != 4 || headerLength < kLeastIpHeader || ip[9] != kUdp ||
      (Read16(ip, 6) & kFragmentBits) != 0) {
    return std::nullopt;
  }
  const std::size_t totalLength = Read16(ip, 2);
  if (totalLength > ip.size() || totalLength < headerLength + kUdpHeader) {
    return std::nullopt;
  }
  const auto udp = ip.subspan(headerLength, totalLength - headerLength);
  const std::size_t udpLength = Read16(udp, 4);
  if (udpLength < kUdpHeader || udpLength > udp.size()) {
    return std::nullopt;
  }
  return UdpDatagram{.source = MacAt(frame, 6),
                     .from = Read32(ip, 12),
                     .fromPort = Read16(udp, 0),
                     .toPort = Read16(udp, 2),
                     .payload = udp.subspan(kUdpHeader, udpLength - kUdpHeader)};
}

std::string TextOf(std::span<const std::uint8_t> bytes) {
  return {bytes.begin(), std::find(bytes.begin(), bytes.end(), std::uint8_t{0})};
}

// A client's DISCOVER, REQUEST or INFORM, from the device its chaddr names.
std::optional<Sighting> DhcpSighting(const UdpDatagram& datagram) {
  const auto message = datagram.payload;
  if (datagram.fromPort != kDhcpClientPort ||
      message.size() < kCookieOffset + kMagicCookie.size() || message[0] != kBootRequest ||
      message[1] != kEthernetHardware || message[2] != MacAddress{}.size() ||
      !std::equal(kMagicCookie.begin(), kMagicCookie.end(), message.begin() + kCookieOffset)) {
    return std::nullopt;
  }
  Sighting sighting{.seenBy = SeenBy::kDhcp, .mac = MacAt(message, kChaddrOffset)};
  if (sighting.mac != datagram.source) {
    return std::nullopt;  // relayed, or speaking for another device
  }
  std::optional<std::uint8_t> type;
  std::optional<Address> requested;
  auto options = message.subspan(kCookieOffset + kMagicCookie.size());
  while (!options.empty() && options[0] != kEndOption) {
    if (options[0] == kPadOption) {
      options = options.subspan(1);
      continue;
    }
    if (options.size() < 2 || options.size() < 2U + options[1]) {
      return std::nullopt;
    }
    const auto value = options.subspan(2, options[1]);
    switch (options[0]) {
      case kMessageTypeOption:
        type = value.empty() ? std::nullopt : std::optional(value[0]);
        break;
      case kHostNameOption:
        sighting.hostName = TextOf(value);
        break;
      case kVendorClassOption:
        sighting.vendorClass = TextOf(value);
        break;
      case kParameterListOption:
        sighting.parameterList.assign(value.begin(), value.end());
        break;
      case kRequestedAddressOption:
        requested = value.size() == 4 ? std::optional(Read32(value, 0)) : std::nullopt;
        break;
      default:
        break;
    }
    options = options.subspan(2U + options[1]);
  }
  if (!type || std::find(kPresenceMessages.begin(), kPresenceMessages.end(), *type) ==
                   kPresenceMessages.end()) {
    return std::nullopt;
  }
  const Address held = Read32(message, kCiaddrOffset);
  sighting.address = held != 0 ? std::optional(held) : requested;
  return sighting;
}

// A response sent to the group unasked (RFC 6762 8.3), named by the owner of
// its A record for the address it came from.
std::optional<Sighting> MdnsSighting(const UdpDatagram& datagram) {
  constexpr std::size_t kDnsHeader = 12;
  if (datagram.fromPort != kMdnsPort || datagram.payload.size() < kDnsHeader ||
      (Read16(datagram.payload, 2) & kResponseFlag) == 0) {
    return std::nullopt;
  }
  const auto records = ParseDnsSdAnswer(datagram.payload, Read16(datagram.payload, 0));
  if (!records) {
    return std::nullopt;
  }
  Sighting sighting{.seenBy = SeenBy::kMdns, .mac = datagram.source, .address = datagram.from};
  for (const DnsSdRecord& record : *records) {
    if (record.type == kAddressRecord && record.address == datagram.from) {
      for (const std::string& label : record.owner) {
        sighting.hostName += (sighting.hostName.empty() ? "" : ".") + label;
      }
      break;
    }
  }
  return sighting;
}

std::optional<Sighting> SsdpSighting(const UdpDatagram& datagram) {
  const std::string_view text(reinterpret_cast<const char*>(datagram.payload.data()),
                              datagram.payload.size());
  if (!text.starts_with(kNotifyLine)) {
    return std::nullopt;
  }
  return Sighting{.seenBy = SeenBy::kSsdp, .mac = datagram.source, .address = datagram.from};
}

std::optional<Sighting> UdpSighting(std::span<const std::uint8_t> frame) {
  const auto datagram = UdpOf(frame);
  if (!datagram) {
    return std::nullopt;
  }
  std::optional<Sighting> sighting;
  if (datagram->toPort == kDhcpServerPort) {
    sighting = DhcpSighting(*datagram);
  } else if (datagram->from == 0) {
    return std::nullopt;  // only a DHCP client may speak before it has an address
  } else if (datagram->toPort == kMdnsPort) {
    sighting = MdnsSighting(*datagram);
  } else if (datagram->toPort == kSsdpPort) {
    sighting = SsdpSighting(*datagram);
  }
  return sighting;
}

}  // namespace

std::optional<Sighting> DecodeSighting(std::span<const std::uint8_t> frame) {
  std::optional<Sighting> sighting;
  if (const auto arp = DecodeArpFrame(frame)) {
    // An ARP probe (RFC 5227) has no address yet: nothing to show.
    if (arp->senderAddress != 0) {
      sighting = Sighting{
          .seenBy = SeenBy::kPassiveArp, .mac = arp->senderMac, .address = arp->senderAddress};
    }
  } else {
    sighting = UdpSighting(frame);
  }
  if (!sighting || !IsDeviceMac(sighting->mac)) {
    return std::nullopt;
  }
  return sighting;
}

}  // namespace hostsweep::controller
