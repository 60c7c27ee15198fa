// The last questions against a scripted network on a fake clock: which
// hosts count as seen, and that each is asked once.
#include "controller/recheck/last_questions.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>
#include <ostream>
#include <string>

#include "controller/link/arp_frame.h"
#include "tests/case_name.h"
#include "tests/controller/asking/fake_datagram_network.h"

namespace hostsweep::controller {
namespace {

constexpr Address kHost = 0x0A000010;
constexpr MacAddress kPhone{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x01};
constexpr MacAddress kOther{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x02};
const LinkInterface kLan{.index = 2, .name = "eth0", .address = 0x0A000001, .prefixLength = 24};
constexpr Descriptor kLinkHandle = 7;

// The link: kHost answers each ARP request from `answerFrom`, if given.
struct FakeLink : LinkSocket {
  std::vector<LinkInterface> Interfaces() override { return {kLan}; }
  void Listen() override {}
  bool Send(int /*interfaceIndex*/, std::span<const std::uint8_t> frame) override {
    const auto request = DecodeArpFrame(frame);
    ++requests[request->targetAddress];
    if (answerFrom && request->targetAddress == kHost) {
      const ArpMessage reply{.operation = ArpOperation::kReply,
                             .senderMac = *answerFrom,
                             .senderAddress = kHost,
                             .targetMac = request->senderMac,
                             .targetAddress = request->senderAddress};
      queued.push_back(
          {.interfaceIndex = kLan.index, .bytes = EncodeArpFrame(reply, request->senderMac)});
    }
    return true;
  }
  [[nodiscard]] Descriptor Handle() const override { return kLinkHandle; }
  [[nodiscard]] bool Routed(Address /*address*/) const override { return true; }
  std::optional<LinkFrame> Receive() override {
    if (queued.empty()) {
      return std::nullopt;
    }
    LinkFrame frame = std::move(queued.front());
    queued.pop_front();
    return frame;
  }

  std::optional<MacAddress> answerFrom;
  std::map<Address, int> requests;
  std::deque<LinkFrame> queued;
};

struct AnswerCase {
  const char* what;
  Responder mdns;  // none: silent
  std::optional<MacAddress> arpFrom;
  std::optional<SeenBy> seen;
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.what; }

class LastQuestion : public ::testing::TestWithParam<AnswerCase> {};

// Two hosts asked, the one under test and a silent one.
TEST_P(LastQuestion, CountsOnlyAnAnswerToItsQuestion) {
  const AnswerCase& c = GetParam();
  FakeNetwork network;
  if (c.mdns) {
    network.responders[{kHost, kMdnsPort}] = c.mdns;
  }
  FakeLink link;
  link.answerFrom = c.arpFrom;
  network.otherReady = [&link](Descriptor d) { return d == kLinkHandle && !link.queued.empty(); };
  EventLoop loop(std::make_unique<FakeNetwork::Waits>(network));
  LastQuestions questions(
      {.loop = loop, .datagrams = network, .link = &link, .interfaces = {kLan}, .arpRate = 100});
  const SeenHost host{
      .address = kHost, .name = "phone", .mac = kPhone, .macSource = MacSource::kArp};
  const SeenHost silent{.address = kHost + 1};
  const auto answered = questions.Ask({host, silent});
  ASSERT_EQ(network.logs.size(), 2U);
  for (const auto& log : network.logs) {
    EXPECT_EQ(log.port, kMdnsPort);
    EXPECT_EQ(log.sends.size(), 1U) << "asked once, not again: " << log.address;
  }
  EXPECT_EQ(link.requests, (std::map<Address, int>{{kHost, 1}, {kHost + 1, 1}}));
  if (c.seen) {
    SeenHost seen = host;
    seen.seenBy = c.seen;
    EXPECT_EQ(answered, std::vector<SeenHost>{seen});
  } else {
    EXPECT_TRUE(answered.empty());
  }
  EXPECT_EQ(network.open, 0U);
}

INSTANTIATE_TEST_SUITE_P(
    MdnsOrArp, LastQuestion,
    ::testing::Values(
        AnswerCase{"its mDNS name",
                   Always([](const Bytes& r) { return MdnsAnswer(r, "phone.local"); }),
                   {},
                   SeenBy::kMdns},
        AnswerCase{"mDNS under another ID",
                   Always([](const Bytes& r) { return MdnsAnswer(r, "x.local", 1); }),
                   {},
                   {}},
        AnswerCase{"mDNS for another question",
                   Always([](const Bytes& r) {
                     return MdnsAnswer(r, "x.local", 0, "1.0.0.10.in-addr.arpa");
                   }),
                   {},
                   {}},
        AnswerCase{"mDNS port unreachable", kRefused, {}, {}},
        AnswerCase{"ARP from its own MAC", {}, kPhone, SeenBy::kArp},
        AnswerCase{"ARP from another MAC", {}, kOther, {}}, AnswerCase{"silence", {}, {}, {}}),
    testing::kNumberedName);

}  // namespace
}  // namespace hostsweep::controller
