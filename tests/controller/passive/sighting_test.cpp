// Frames a device sends of its own accord, as the watch hears them between
// sweeps. The DHCP ones are a real udhcpc's, captured in the lab (MAC
// 00-1A-2B-0D-0C-01, -x hostname:visitor -V labphone-vendor, leased
// 10.213.12.201 by dnsmasq), their 192 zero bytes of sname and file left
// out here; the ARP ones are the link pass's captures (arp_frame_test).
#include "controller/passive/sighting.h"

#include <gtest/gtest.h>

#include <string>

#include "controller/link/arp_frame.h"
#include "tests/case_name.h"
#include "tests/hex_bytes.h"

namespace hostsweep::controller {
namespace {

using testing::Bytes;

std::string DhcpFrame(const std::string& head, const std::string& options) {
  return head + std::string(std::size_t{2} * 192, '0') + options;
}

const std::string kDiscoverHead =
    "ffffffffffff001a2b0d0c0108004500014800000000401179a600000000ffffffff004400430134d48901010600"
    "20cc1a150000000000000000000000000000000000000000001a2b0d0c0100000000000000000000";
const std::string kDiscoverOptions =
    "638253633501013902024037070103060c0f1c2a0c0776697369746f723c0f6c616270686f6e652d76656e646f"
    "723d0701001a2b0d0c01ff0000000000000000";
const std::string kRequestHead =
    "ffffffffffff001a2b0d0c0108004500014c00000000401179a200000000ffffffff00440043013855f701010600"
    "20cc1a150000000000000000000000000000000000000000001a2b0d0c0100000000000000000000";
const std::string kRequestOptions =
    "6382536335010332040ad50cc936040ad500013902024037070103060c0f1c2a0c0776697369746f723c0f6c61"
    "6270686f6e652d76656e646f723d0701001a2b0d0c01ff";

const std::string kAlphaReply =
    "262f0ad45e2200227200000a0806000108000604000200227200000a0ad5000a262f0ad45e220ad50001";
const std::string kScannerRequest =
    "ffffffffffff262f0ad45e2208060001080006040001262f0ad45e220ad500010000000000000ad5000a"
    "000000000000000000000000000000000000";

// IPv4 and UDP around `payload`, from `mac` at 10.213.3.10; checksums left
// zero (the kernel has checked them before a packet socket sees the frame).
std::string UdpFrame(const std::string& mac, std::uint16_t toPort, const std::string& payload,
                     const std::string& fragment = "0000") {
  const auto hex16 = [](std::size_t value) {
    constexpr const char* kDigits = "0123456789abcdef";
    std::string text;
    for (int shift = 12; shift >= 0; shift -= 4) {
      text += kDigits[(value >> static_cast<unsigned>(shift)) & 0xfU];
    }
    return text;
  };
  const std::size_t udpLength = 8 + payload.size() / 2;
  return "01005e0000fb" + mac + "0800" + "4500" + hex16(20 + udpLength) + "0000" + fragment +
         "ff110000" + "0ad5030a" + "e00000fb" + hex16(toPort) + hex16(toPort) + hex16(udpLength) +
         "0000" + payload;
}

const std::string kPrinterMac = "001a2b00030a";
// An unasked response: labprinter.local's A record, 10.213.3.10, cache-flush class.
const std::string kAnnouncement =
    "000084000000000100000000"
    "0a6c61627072696e746572056c6f63616c00"
    "00018001000000780004"
    "0ad5030a";
const std::string kQuestion =
    "000000000001000000000000"
    "0a6c61627072696e746572056c6f63616c00"
    "00010001";
const std::string kNotify =
    "4e4f54494659202a20485454502f312e310d0a"
    "4e54533a207373647028616c697665290d0a0d0a";
const std::string kSearch = "4d2d534541524348202a20485454502f312e310d0a0d0a";

const MacAddress kVisitor{0x00, 0x1a, 0x2b, 0x0d, 0x0c, 0x01};
const MacAddress kPrinter{0x00, 0x1a, 0x2b, 0x00, 0x03, 0x0a};
const std::vector<std::uint8_t> kAskedFor{1, 3, 6, 12, 15, 28, 42};

struct SightingCase {
  const char* what;
  std::string hex;
  std::optional<Sighting> heard;
};

void PrintTo(const SightingCase& c, std::ostream* os) { *os << c.what; }

class FrameHeard : public ::testing::TestWithParam<SightingCase> {};

TEST_P(FrameHeard, SaysWhoSentItOrNothing) {
  const SightingCase& c = GetParam();
  EXPECT_EQ(DecodeSighting(Bytes(c.hex)), c.heard);
}

std::string WithByte(std::string hex, std::size_t offset, const std::string& byte) {
  return hex.replace(2 * offset, 2, byte);
}

std::string Gratuitous(const MacAddress& mac, Address address) {
  return testing::Hex(EncodeArpFrame({.operation = ArpOperation::kRequest,
                                      .senderMac = mac,
                                      .senderAddress = address,
                                      .targetAddress = address},
                                     kBroadcastMac));
}

INSTANTIATE_TEST_SUITE_P(
    Passive, FrameHeard,
    ::testing::Values(
        SightingCase{"a gratuitous ARP", Gratuitous(kVisitor, 0x0ad50cc9),
                     Sighting{.mac = kVisitor, .address = 0x0ad50cc9}},
        SightingCase{"an ARP request of someone's", kScannerRequest,
                     Sighting{.mac = {0x26, 0x2f, 0x0a, 0xd4, 0x5e, 0x22}, .address = 0x0ad50001}},
        SightingCase{"an ARP reply", kAlphaReply,
                     Sighting{.mac = {0x00, 0x22, 0x72, 0x00, 0x00, 0x0a}, .address = 0x0ad5000a}},
        SightingCase{"an ARP probe, no address yet", Gratuitous(kVisitor, 0), std::nullopt},
        SightingCase{"an ARP from a group MAC", Gratuitous({0x01, 0, 0x5e, 0, 0, 1}, 0x0ad50cc9),
                     std::nullopt},
        SightingCase{"an ARP whose Ethernet source is another MAC", WithByte(kAlphaReply, 11, "0b"),
                     std::nullopt},
        SightingCase{"a DHCP DISCOVER: name, vendor class, parameter list, no address yet",
                     DhcpFrame(kDiscoverHead, kDiscoverOptions),
                     Sighting{.seenBy = SeenBy::kDhcp,
                              .mac = kVisitor,
                              .hostName = "visitor",
                              .vendorClass = "labphone-vendor",
                              .parameterList = kAskedFor}},
        SightingCase{"a DHCP REQUEST: the address it asks for",
                     DhcpFrame(kRequestHead, kRequestOptions),
                     Sighting{.seenBy = SeenBy::kDhcp,
                              .mac = kVisitor,
                              .address = 0x0ad50cc9,
                              .hostName = "visitor",
                              .vendorClass = "labphone-vendor",
                              .parameterList = kAskedFor}},
        SightingCase{"a DHCP RELEASE", DhcpFrame(kRequestHead, WithByte(kRequestOptions, 6, "07")),
                     std::nullopt},
        SightingCase{"a DHCP REQUEST for another device's chaddr",
                     WithByte(DhcpFrame(kRequestHead, kRequestOptions), 14 + 20 + 8 + 33, "ff"),
                     std::nullopt},
        SightingCase{"a DHCP option running past the end",
                     DhcpFrame(kRequestHead, kRequestOptions.substr(0, 40)), std::nullopt},
        SightingCase{"an mDNS announcement, named by its A record",
                     UdpFrame(kPrinterMac, 5353, kAnnouncement),
                     Sighting{.seenBy = SeenBy::kMdns,
                              .mac = kPrinter,
                              .address = 0x0ad5030a,
                              .hostName = "labprinter.local"}},
        SightingCase{"an mDNS question", UdpFrame(kPrinterMac, 5353, kQuestion), std::nullopt},
        SightingCase{"an SSDP NOTIFY", UdpFrame(kPrinterMac, 1900, kNotify),
                     Sighting{.seenBy = SeenBy::kSsdp, .mac = kPrinter, .address = 0x0ad5030a}},
        SightingCase{"an SSDP M-SEARCH", UdpFrame(kPrinterMac, 1900, kSearch), std::nullopt},
        SightingCase{"an SSDP NOTIFY's first fragment",
                     UdpFrame(kPrinterMac, 1900, kNotify, "2000"), std::nullopt},
        SightingCase{"an SSDP NOTIFY cut short", UdpFrame(kPrinterMac, 1900, kNotify).substr(0, 90),
                     std::nullopt}),
    [](const auto& info) { return testing::CaseName(info.param.what); });

}  // namespace
}  // namespace hostsweep::controller
