// ARP frames captured in the lab (scanner 10.213.0.1 at 26-2F-0A-D4-5E-22;
// alpha 10.213.0.10 at 00-22-72-00-00-0A and bravo 10.213.0.11 at
// 20-85-93-B0-00-0B, whose replies come from their own kernels).
#include "controller/link/arp_frame.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/case_name.h"
#include "tests/hex_bytes.h"

namespace hostsweep::controller {
namespace {

using testing::Bytes;

const MacAddress kScannerMac{0x26, 0x2f, 0x0a, 0xd4, 0x5e, 0x22};
const Address kScanner = 0x0ad50001;
const Address kAlpha = 0x0ad5000a;
const Address kBravo = 0x0ad5000b;

// The controller's request for alpha, as alpha's interface received it.
const std::string kRequestForAlpha =
    "ffffffffffff262f0ad45e2208060001080006040001262f0ad45e220ad500010000000000000ad5000a"
    "000000000000000000000000000000000000";
const std::string kAlphaReply =
    "262f0ad45e2200227200000a0806000108000604000200227200000a0ad5000a262f0ad45e220ad50001";
const std::string kBravoReply =
    "262f0ad45e22208593b0000b08060001080006040002208593b0000b0ad5000b262f0ad45e220ad50001";

TEST(ArpFrame, EncodesTheRequestByteForByteAsCaptured) {
  EXPECT_EQ(EncodeArpRequest(kScannerMac, kScanner, kAlpha), Bytes(kRequestForAlpha));
  const auto decoded = DecodeArpFrame(Bytes(kRequestForAlpha));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(EncodeArpFrame(*decoded, kBroadcastMac), Bytes(kRequestForAlpha));
}

struct FrameCase {
  const char* what;
  std::string hex;
  Address asked;
  bool decodes;
  bool answers;
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.what; }

class CapturedFrame : public ::testing::TestWithParam<FrameCase> {};

TEST_P(CapturedFrame, CountsOnlyAReplyFromTheAskedAddressToUs) {
  const auto& c = GetParam();
  const auto message = DecodeArpFrame(Bytes(c.hex));
  ASSERT_EQ(message.has_value(), c.decodes) << c.what;
  if (message) {
    EXPECT_EQ(AnswersOurRequest(*message, c.asked, kScannerMac, kScanner), c.answers) << c.what;
  }
}

// Frames the wire may carry besides the captured ones: the same bytes cut
// short, of another type, or changed where a reply must match.
std::string Patched(std::string hex, std::size_t byte, const std::string& with) {
  return hex.replace(2 * byte, with.size(), with);
}

INSTANTIATE_TEST_SUITE_P(
    Lab, CapturedFrame,
    ::testing::Values(
        FrameCase{"alpha's reply", kAlphaReply, kAlpha, true, true},
        FrameCase{"bravo's reply, to a question for alpha", kBravoReply, kAlpha, true, false},
        FrameCase{"our own request", kRequestForAlpha, kAlpha, true, false},
        FrameCase{"cut before the target address", kAlphaReply.substr(0, std::size_t{2} * 41),
                  kAlpha, false, false},
        FrameCase{"an IPv4 frame", Patched(kAlphaReply, 12, "0800"), kAlpha, false, false},
        FrameCase{"hardware type not Ethernet", Patched(kAlphaReply, 14, "0006"), kAlpha, false,
                  false},
        FrameCase{"address length 16", Patched(kAlphaReply, 19, "10"), kAlpha, false, false},
        FrameCase{"operation 3 (RARP)", Patched(kAlphaReply, 20, "0003"), kAlpha, false, false},
        FrameCase{"sent from another MAC than it names", Patched(kAlphaReply, 6, "020000000002"),
                  kAlpha, false, false},
        FrameCase{"gratuitous: alpha announcing itself", Patched(kAlphaReply, 38, "0ad5000a"),
                  kAlpha, true, false},
        FrameCase{"to another MAC", Patched(kAlphaReply, 32, "020000000001"), kAlpha, true, false},
        FrameCase{"to another address", Patched(kAlphaReply, 38, "0ad50002"), kAlpha, true, false},
        FrameCase{"bravo's reply, asked for", kBravoReply, kBravo, true, true}),
    testing::kNumberedName);

// 802.1Q-tagged frames captured on the lab's trunk (lab.sh vlans) as a switch
// port sees them, tag in place: the controller's requests on trunk0
// (86-64-94-AA-58-1E), which holds no address on the VLANs and asks as
// 0.0.0.0, and the replies of v10a (10.215.10.10, VLAN 10) and of v20b for
// 10.215.10.12, an address it holds on VLAN 20.
const MacAddress kTrunkMac{0x86, 0x64, 0x94, 0xaa, 0x58, 0x1e};
const Address kV10a = 0x0ad70a0a;
const Address kOnVlan20 = 0x0ad70a0c;
const std::string kRequestOnVlan10 =
    "ffffffffffff866494aa581e8100000a08060001080006040001866494aa581e000000000000000000000ad70a0a"
    "000000000000000000000000000000000000";
const std::string kV10aReply =
    "866494aa581e0022720a0a0a8100000a080600010800060400020022720a0a0a0ad70a0a866494aa581e00000000";
const std::string kV20bReply =
    "866494aa581e002272140b0b8100001408060001080006040002002272140b0b0ad70a0c866494aa581e00000000";

TEST(TaggedArpFrame, EncodesTheRequestByteForByteAsCaptured) {
  EXPECT_EQ(EncodeArpRequest(kTrunkMac, 0, kV10a, 10), Bytes(kRequestOnVlan10));
}

struct TaggedCase {
  const char* what;
  std::string hex;
  std::uint16_t vlan;  // the tag it carries
  Address asked;
  bool answers;  // a reply to our address probe for `asked`
};

void PrintTo(const TaggedCase& c, std::ostream* os) { *os << c.what; }

class CapturedTaggedFrame : public ::testing::TestWithParam<TaggedCase> {};

TEST_P(CapturedTaggedFrame, ReadsTheTagAndTheMessageBehindIt) {
  const auto& c = GetParam();
  EXPECT_EQ(VlanOf(Bytes(c.hex)), c.vlan);
  const auto message = DecodeArpFrame(Bytes(c.hex));
  ASSERT_TRUE(message);
  EXPECT_EQ(AnswersOurRequest(*message, c.asked, kTrunkMac, 0), c.answers);
}

INSTANTIATE_TEST_SUITE_P(
    Trunk, CapturedTaggedFrame,
    ::testing::Values(TaggedCase{"our request on VLAN 10", kRequestOnVlan10, 10, kV10a, false},
                      TaggedCase{"v10a's reply on VLAN 10", kV10aReply, 10, kV10a, true},
                      TaggedCase{"v20b's reply on VLAN 20", kV20bReply, 20, kOnVlan20, true},
                      TaggedCase{"v10a's reply, to a question for another address", kV10aReply, 10,
                                 kOnVlan20, false},
                      TaggedCase{"v10a's reply to an asker with an address",
                                 Patched(kV10aReply, 42, "0ad70a01"), 10, kV10a, false},
                      TaggedCase{"priority bits beside VLAN 10", Patched(kV10aReply, 14, "a00a"),
                                 10, kV10a, true}),
    testing::kNumberedName);

TEST(ArpFrame, ReadsTheRepliersAddresses) {
  const auto message = DecodeArpFrame(Bytes(kAlphaReply));
  ASSERT_TRUE(message);
  EXPECT_EQ(message->operation, ArpOperation::kReply);
  EXPECT_EQ(FormatMac(message->senderMac), "00:22:72:00:00:0a");
  EXPECT_EQ(FormatAddress(message->senderAddress), "10.213.0.10");
  EXPECT_EQ(message->targetMac, kScannerMac);
  EXPECT_EQ(FormatAddress(message->targetAddress), "10.213.0.1");
}

}  // namespace
}  // namespace hostsweep::controller
