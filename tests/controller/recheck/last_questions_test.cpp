// The last questions against a scripted network and link on a fake clock:
// which answers count as seeing a host, and that each is asked once.
#include "controller/recheck/last_questions.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>
#include <ostream>

#include "controller/link/arp_frame.h"
#include "tests/case_name.h"
#include "tests/controller/asking/fake_datagram_network.h"

namespace hostsweep::controller {
namespace {

constexpr Address kHost = 0x0A000010;
constexpr MacAddress kPhone{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x01};
const LinkInterface kLan{.index = 2, .name = "eth0", .address = 0x0A000001, .prefixLength = 24};
constexpr Descriptor kLinkHandle = 7;

// kHost answers each ARP request from `answerFrom`, if given.
struct FakeLink : LinkSocket {
  std::vector<LinkInterface> Interfaces() override { return {kLan}; }
  void Listen() override {}
  bool Send(int /*interfaceIndex*/, std::span<const std::uint8_t> frame) override {
    const auto request = DecodeArpFrame(frame);
    ++requests[request->targetAddress];
    if (answerFrom && request->targetAddress == kHost) {
      const ArpMessage reply{ArpOperation::kReply, *answerFrom, kHost, request->senderMac,
                             request->senderAddress};
      queued.push_back({kLan.index, EncodeArpFrame(reply, request->senderMac)});
    }
    return true;
  }
  [[nodiscard]] Descriptor Handle() const override { return kLinkHandle; }
  [[nodiscard]] bool Routed(Address /*address*/) const override { return true; }
  std::optional<LinkFrame> Receive() override {
    std::optional<LinkFrame> frame;
    if (!queued.empty()) {
      frame = std::move(queued.front());
      queued.pop_front();
    }
    return frame;
  }
  std::optional<MacAddress> answerFrom;
  std::map<Address, int> requests;
  std::deque<LinkFrame> queued;
};

struct AnswerCase {
  const char* what;
  bool mdnsAnswers;
  std::optional<MacAddress> arpFrom;
  std::optional<SeenBy> seen;
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.what; }

class LastQuestion : public ::testing::TestWithParam<AnswerCase> {};

// Two hosts asked, the one under test and a silent one.
TEST_P(LastQuestion, CountsOnlyTheHostsOwnAnswer) {
  const AnswerCase& c = GetParam();
  FakeNetwork network;
  if (c.mdnsAnswers) {
    network.responders[{kHost, kMdnsPort}] =
        Always([](const Bytes& r) { return MdnsAnswer(r, "phone.local"); });
  }
  FakeLink link;
  link.answerFrom = c.arpFrom;
  network.otherReady = [&link](Descriptor d) { return d == kLinkHandle && !link.queued.empty(); };
  EventLoop loop(std::make_unique<FakeNetwork::Waits>(network));
  LastQuestions questions({loop, network, &link, {kLan}, 100});
  const SeenHost host{.address = kHost, .mac = kPhone, .macSource = MacSource::kArp};
  const auto answered = questions.Ask({host, {.address = kHost + 1}});
  ASSERT_EQ(network.logs.size(), 2U);
  for (const auto& log : network.logs) {
    EXPECT_EQ(log.sends.size(), 1U) << "asked once, not again: " << log.address;
  }
  EXPECT_EQ(link.requests, (std::map<Address, int>{{kHost, 1}, {kHost + 1, 1}}));
  SeenHost seen = host;
  seen.seenBy = c.seen;
  EXPECT_EQ(answered, c.seen ? std::vector<SeenHost>{seen} : std::vector<SeenHost>{});
}

INSTANTIATE_TEST_SUITE_P(
    MdnsOrArp, LastQuestion,
    ::testing::Values(AnswerCase{"its mDNS name", true, {}, SeenBy::kMdns},
                      AnswerCase{"ARP from its own MAC", false, kPhone, SeenBy::kArp},
                      AnswerCase{
                          "ARP from another MAC", false, MacAddress{0, 0x1A, 0x2B, 0, 0, 2}, {}},
                      AnswerCase{"silence", false, {}, {}}),
    testing::kNumberedName);

}  // namespace
}  // namespace hostsweep::controller
