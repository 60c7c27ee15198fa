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
