#include "controller/link/link_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <utility>

#include "controller/base/report_label.h"
#include "controller/link/arp_frame.h"
#include "controller/link/link_layer.h"
#include "controller/targets/targets.h"
#include "tests/case_name.h"
#include "tests/controller/system/fake_poller.h"

namespace hostsweep::controller {
namespace {

using std::chrono::milliseconds;
using Clock = ArpPass::Clock;

Address Parse(const std::string& text) {
  std::vector<Address> addresses;
  ExpandTarget(text, addresses);
  return addresses.at(0);
}

const LinkInterface kLan{.index = 3,
                         .name = "br0",
                         .mac = {0x26, 0x2f, 0x0a, 0xd4, 0x5e, 0x22},
                         .address = Parse("10.213.0.1"),
                         .prefixLength = 20};
const LinkInterface kWifi{.index = 4,
                          .name = "wlan0",
                          .mac = {0x02, 0, 0, 0, 0, 0x05},
                          .address = Parse("192.168.1.5"),
                          .prefixLength = 24};
const LinkInterface kPair{.index = 5,
                          .name = "pair0",
                          .mac = {0x02, 0, 0, 0, 0, 0x06},
                          .address = Parse("10.9.0.0"),
                          .prefixLength = 31};

// VLAN 10 through br0 as a trunk port: its network, none of our addresses.
const LinkInterface kVlan10{.index = 3,
                            .name = "br0.10",
                            .mac = kLan.mac,
                            .address = Parse("10.215.10.0"),
                            .prefixLength = 24,
                            .vlan = 10};

struct PlanCase {
  const char* address;
  int interface;  // index into the four above; -1: the echo path
};

void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.address; }

class LinkPlan : public ::testing::TestWithParam<PlanCase> {};

TEST_P(LinkPlan, AsksOnlyHostsOnAConnectedNetwork) {
  const auto& c = GetParam();
  const auto plan = PlanLinkPass({Parse(c.address)}, {kLan, kWifi, kPair, kVlan10});
  ASSERT_EQ(plan.size(), 1U);
  EXPECT_EQ(plan[0] ? static_cast<int>(*plan[0]) : -1, c.interface) << c.address;
}

INSTANTIATE_TEST_SUITE_P(LinkPass, LinkPlan,
                         ::testing::Values(PlanCase{"10.213.0.10", 0}, PlanCase{"10.213.15.254", 0},
                                           PlanCase{"192.168.1.7", 1}, PlanCase{"10.9.0.1", 2},
                                           PlanCase{"10.213.0.1", -1},     // our own
                                           PlanCase{"10.213.0.0", -1},     // the network's
                                           PlanCase{"10.213.15.255", -1},  // its broadcast
                                           PlanCase{"10.213.16.10", -1},   // behind a router
                                           PlanCase{"192.168.2.7", -1},
                                           PlanCase{"10.215.10.7", 3},      // on VLAN 10
                                           PlanCase{"10.215.10.255", -1}),  // VLAN 10's broadcast
                         testing::kNumberedName);

// A link where time passes only while the pass waits for frames, and hosts
// answer as each is told: from which try on, how late, with which MACs.
struct Responder {
  int fromTry = 1;
  milliseconds delay{0};
  std::vector<MacAddress> macs{{0x00, 0x22, 0x72, 0x00, 0x00, 0x0a}};
  // The VLAN its answers come back tagged with (0: untagged), the tag taken
  // off by the kernel unless `tagInFrame`.
  std::uint16_t vlan = 0;
  bool tagInFrame = false;
};

class FakeLink : public LinkSocket {
 public:
  explicit FakeLink(std::map<Address, Responder> hosts) : hosts_(std::move(hosts)) {}

  std::vector<LinkInterface> Interfaces() override { return {kLan}; }
  void Listen() override {}
  bool Send(int interfaceIndex, std::span<const std::uint8_t> frame) override {
    const auto request = DecodeArpFrame(frame);
    EXPECT_TRUE(request && request->operation == ArpOperation::kRequest);
    EXPECT_EQ(interfaceIndex, kLan.index);
    sent.push_back(now);
    lastRequest[request->targetAddress] = now;
    const int tries = ++requests[request->targetAddress];
    const auto host = hosts_.find(request->targetAddress);
    if (host != hosts_.end() && tries >= host->second.fromTry) {
      for (const auto& mac : host->second.macs) {
        const ArpMessage reply{.operation = ArpOperation::kReply,
                               .senderMac = mac,
                               .senderAddress = request->targetAddress,
                               .targetMac = request->senderMac,
                               .targetAddress = request->senderAddress};
        const Responder& said = host->second;
        queued_.emplace(now + said.delay,
                        LinkFrame{.interfaceIndex = kLan.index,
                                  .bytes = EncodeArpFrame(reply, request->senderMac,
                                                          said.tagInFrame ? said.vlan : 0),
                                  .strippedVlan = said.tagInFrame ? std::uint16_t{0} : said.vlan});
      }
    }
    return true;
  }
  [[nodiscard]] Descriptor Handle() const override { return kHandle; }
  [[nodiscard]] bool Routed(Address /*address*/) const override { return routed; }
  std::optional<LinkFrame> Receive() override {
    if (queued_.empty() || queued_.begin()->first > now) {
      return std::nullopt;
    }
    LinkFrame frame = queued_.begin()->second;
    queued_.erase(queued_.begin());
    return frame;
  }
  // The loop's wait: it ends when the next frame arrives, if that is soon enough.
  void Wait(std::span<PollEntry> entries, milliseconds timeout) {
    if (queued_.empty() || queued_.begin()->first > now + timeout) {
      now += timeout;
      return;
    }
    now = std::max(now, queued_.begin()->first);
    for (auto& entry : entries) {
      entry.ready = entry.descriptor == kHandle ? kReadable : 0U;
    }
  }

  static constexpr Descriptor kHandle = 7;
  bool routed = true;
  Clock::time_point now{};
  std::vector<Clock::time_point> sent;
  std::map<Address, int> requests;
  std::map<Address, Clock::time_point> lastRequest;

 private:
  std::map<Address, Responder> hosts_;
  std::multimap<Clock::time_point, LinkFrame> queued_;
};

// A loop whose waits are the link's.
std::unique_ptr<Poller> PollerOf(FakeLink& link) {
  auto poller = std::make_unique<FakePoller>();
  poller->onWait = [&link, clock = poller.get()](std::span<PollEntry> entries,
                                                 milliseconds timeout) {
    link.Wait(entries, timeout);
    clock->now = link.now;
  };
  return poller;
}

struct PassCase {
  const char* what;
  Responder responder;
  int tries;
  bool answered;
  int requests;  // to the host
  bool conflict;
  // How long a silent address waits after its last request: the floor, or
  // three times the host's answer.
  milliseconds silentWait{500};
};

void PrintTo(const PassCase& c, std::ostream* os) { *os << c.what; }

class Pass : public ::testing::TestWithParam<PassCase> {};

// The host under test at 10.213.0.10 among a /24 of silent addresses.
TEST_P(Pass, DecidesEachAddressFromItsRepliesAlone) {
  const auto& c = GetParam();
  const Address host = Parse("10.213.0.10");
  std::vector<Address> addresses;
  ExpandTarget("10.213.0.0/24", addresses);
  FakeLink link({{host, c.responder}});
  const auto plan = PlanLinkPass(addresses, {kLan});
  EventLoop loop(PollerOf(link));
  ArpPass pass(addresses, {kLan}, plan, link,
               {.rate = 1000,
                .tries = c.tries,
                .retryAfter = milliseconds{500},
                .lastWait = milliseconds{1000},
                .lastWaitFloor = milliseconds{500}},
               loop);
  const Address silent = Parse("10.213.0.20");
  const auto positionOf = [&addresses](Address address) {
    return static_cast<std::size_t>(std::find(addresses.begin(), addresses.end(), address) -
                                    addresses.begin());
  };
  std::vector<std::size_t> answered;
  std::vector<std::size_t> unanswered;
  std::optional<Clock::time_point> silentGivenUp;
  while (pass.Busy()) {
    loop.RunOnce(milliseconds{1});
    const auto verdicts = pass.TakeVerdicts();
    answered.insert(answered.end(), verdicts.answered.begin(), verdicts.answered.end());
    unanswered.insert(unanswered.end(), verdicts.unanswered.begin(), verdicts.unanswered.end());
    if (!silentGivenUp && std::count(unanswered.begin(), unanswered.end(), positionOf(silent))) {
      silentGivenUp = link.now;
    }
  }
  ASSERT_TRUE(silentGivenUp);
  const auto waited = *silentGivenUp - link.lastRequest[silent];
  EXPECT_GE(waited, c.silentWait) << c.what;
  EXPECT_LE(waited, c.silentWait + milliseconds{2}) << c.what;
  const auto position = positionOf(host);
  EXPECT_EQ(answered, c.answered ? std::vector<std::size_t>{position} : std::vector<std::size_t>{})
      << c.what;
  EXPECT_EQ(answered.size() + unanswered.size(), addresses.size() - 1) << "all but our own";
  EXPECT_EQ(link.requests[host], c.requests) << c.what;
  EXPECT_EQ(link.requests[silent], c.tries) << "a silent address";
  EXPECT_EQ(link.requests.count(kLan.address), 0U) << "we never ask for ourselves";
  if (c.answered) {
    ASSERT_NE(pass.AnswerOf(host), nullptr);
    EXPECT_EQ(*pass.AnswerOf(host), c.responder.macs.front());
  }
  EXPECT_EQ(pass.Conflicts().size(), c.conflict ? 1U : 0U) << c.what;
  if (c.conflict) {
    EXPECT_EQ(pass.Conflicts().front(), (LinkConflict{.address = host,
                                                      .mac = c.responder.macs.front(),
                                                      .otherMac = c.responder.macs.back()}));
  }
  // The pace holds: never more than the rate allows, bar a short catch-up.
  for (std::size_t i = 0; i < link.sent.size(); ++i) {
    EXPECT_GE(link.sent[i] - link.sent[0], milliseconds{static_cast<long>(i)} - milliseconds{20})
        << "request " << i;
  }
}

const MacAddress kOther{0x02, 0, 0, 0, 0, 0x29};

INSTANTIATE_TEST_SUITE_P(
    LinkPass, Pass,
    ::testing::Values(
        PassCase{"answers at once", {}, 2, true, 1, false},
        PassCase{"answers the retry only", {.fromTry = 2}, 2, true, 2, false},
        PassCase{"answers 300 ms late",
                 {.delay = milliseconds{300}},
                 2,
                 true,
                 1,
                 false,
                 milliseconds{900}},
        // Timed from the retry, the answer to the first request reads 200 ms late.
        PassCase{"answers after the retry is out",
                 {.delay = milliseconds{700}},
                 2,
                 true,
                 2,
                 false,
                 milliseconds{600}},
        PassCase{"answers after the last wait", {.delay = milliseconds{1600}}, 1, false, 1, false},
        PassCase{"never answers, three tries", {.fromTry = 4}, 3, false, 3, false},
        PassCase{"two MACs answer",
                 {.macs = {{0x00, 0x22, 0x72, 0, 0, 0x0a}, kOther}},
                 2,
                 true,
                 1,
                 true}),
    testing::kNumberedName);

struct VlanCase {
  const char* what;
  Responder responder;
  bool routed;  // the system has a route to the VLAN's network
  // What the pass decided of the host: "answered", "link only" or "unanswered".
  const char* verdict;
};

void PrintTo(const VlanCase& c, std::ostream* os) { *os << c.what; }

class VlanPass : public ::testing::TestWithParam<VlanCase> {};

// 10.215.10.10 asked on VLAN 10 from the trunk port: only an answer tagged for
// VLAN 10 counts, and a host no route reaches gets no echo request.
TEST_P(VlanPass, TakesOnlyAnswersTaggedForItsVlan) {
  const auto& c = GetParam();
  const std::vector<Address> addresses{Parse("10.215.10.10")};
  FakeLink link({{addresses[0], c.responder}});
  link.routed = c.routed;
  EventLoop loop(PollerOf(link));
  ArpPass pass(addresses, {kVlan10}, PlanLinkPass(addresses, {kVlan10}), link,
               {.rate = 1000,
                .tries = 1,
                .retryAfter = milliseconds{500},
                .lastWait = milliseconds{1000},
                .routed = [&link](Address address) { return link.Routed(address); }},
               loop);
  std::string verdict = "unanswered";
  while (pass.Busy()) {
    loop.RunOnce(milliseconds{10});
    const auto verdicts = pass.TakeVerdicts();
    verdict = !verdicts.answered.empty()           ? "answered"
              : !verdicts.answeredLinkOnly.empty() ? "link only"
                                                   : verdict;
  }
  EXPECT_EQ(verdict, c.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    LinkPass, VlanPass,
    ::testing::Values(
        VlanCase{"tag taken off by the kernel", {.vlan = 10}, true, "answered"},
        VlanCase{"tag still in the frame", {.vlan = 10, .tagInFrame = true}, true, "answered"},
        VlanCase{"no route to the VLAN", {.vlan = 10}, false, "link only"},
        VlanCase{"the address's holder on VLAN 20", {.vlan = 20}, true, "unanswered"},
        VlanCase{"an untagged answer", {}, true, "unanswered"}),
    testing::kNumberedName);

struct SharingCase {
  const char* what;
  std::size_t sharing;    // addresses the one MAC answers for
  bool afterTheirOwn;     // second, after each address's own MAC
  bool shownOnTheirRows;  // their rows show it, and say how many it answered for
};

void PrintTo(const SharingCase& c, std::ostream* os) { *os << c.what; }

class SharedMac : public ::testing::TestWithParam<SharingCase> {};

// One MAC answers for a run of a /24's addresses, a host for its own: each
// answered row waits for the pass's end, then every row that shows a MAC
// answering for more than a host holds says how many, and one warning names it.
TEST_P(SharedMac, IsCountedOverThePassAndShownOnEveryRowItAnswered) {
  const auto& c = GetParam();
  std::vector<Address> addresses;
  ExpandTarget("10.213.0.0/24", addresses);
  const MacAddress shared{0x02, 0x00, 0x5e, 0x10, 0x00, 0x99};
  std::map<Address, Responder> hosts{{Parse("10.213.0.5"), {}}};
  for (std::size_t i = 0; i < c.sharing; ++i) {
    const MacAddress own{0x00, 0x22, 0x72, 0x00, 0x01, static_cast<std::uint8_t>(i)};
    hosts[Parse("10.213.0.100") + static_cast<Address>(i)] = {
        .macs = c.afterTheirOwn ? std::vector{own, shared} : std::vector{shared}};
  }
  FakeLink link(hosts);
  std::ostringstream diagnostics;
  EventLoop loop(PollerOf(link));
  ArpPass pass(
      addresses, {kLan}, PlanLinkPass(addresses, {kLan}), link,
      {.rate = 1000, .tries = 1, .retryAfter = milliseconds{500}, .lastWait = milliseconds{1000}},
      loop);
  ResultBook book(addresses);
  LinkLayerStage linkLayer([] { return std::vector<NeighbourEntry>{}; }, diagnostics, false, &pass);
  while (pass.Busy()) {
    // Each answerer's worker reports at once, long before the pass ends.
    loop.RunOnce(milliseconds{10});
    const auto answered = pass.TakeVerdicts().answered;
    for (const std::size_t position : answered) {
      book.FileProbeReport(LabelOf(position) + ",Dead");
    }
    linkLayer.Enrich(book, book.TakeFinished());
    for (const std::size_t position : answered) {
      EXPECT_FALSE(book.Ready(position)) << "shown before the pass ended";
    }
  }
  linkLayer.Poll(book, milliseconds{0});
  std::size_t showingShared = 0;
  for (std::size_t position = 0; position < addresses.size(); ++position) {
    const auto view = ViewOf(book.Results()[position], {});
    if (book.Results()[position].link) {
      EXPECT_TRUE(book.Ready(position)) << position;
    }
    const bool showsShared = view.mac == shared;
    showingShared += showsShared ? 1 : 0;
    EXPECT_EQ(view.macSharedBy, showsShared && c.shownOnTheirRows
                                    ? std::optional<std::size_t>(c.sharing)
                                    : std::nullopt)
        << c.what << " " << position;
  }
  EXPECT_EQ(showingShared, c.afterTheirOwn ? 0 : c.sharing) << c.what;
  std::vector<LinkConflict> expected;
  if (c.sharing > kMostAddressesPerHost) {
    expected.push_back({.mac = shared, .addresses = c.sharing});
  }
  std::vector<LinkConflict> sharedMacs;
  std::ranges::copy_if(pass.Conflicts(), std::back_inserter(sharedMacs),
                       [](const LinkConflict& conflict) { return !conflict.address; });
  EXPECT_EQ(sharedMacs, expected) << "one conflict, of that MAC alone";
}

INSTANTIATE_TEST_SUITE_P(
    LinkPass, SharedMac,
    ::testing::Values(SharingCase{"a host's handful of addresses", 8, false, false},
                      SharingCase{"more than a host holds", 9, false, true},
                      SharingCase{"second to each address's own MAC", 40, true, false}),
    testing::kNumberedName);

struct TableFullCase {
  const char* what;
  std::optional<std::uint64_t> before, after;  // the kernel's count of entries refused
  State withoutEntry;  // an answerer read dead with no resolved neighbour entry
};

class TableFull : public ::testing::TestWithParam<TableFullCase> {};

// In a /29, .2 answers echo; .3 and .4 ARP alone, .3 with a resolved entry
// (its echo requests left). Only .4's verdict may rest on echo requests that
// never left, and it is withheld only when the table ran full.
TEST_P(TableFull, WithholdsOnlyTheVerdictsOfEchoRequestsThatFoundNoRoom) {
  const auto& c = GetParam();
  std::vector<Address> addresses;
  ExpandTarget("10.213.0.0/29", addresses);
  FakeLink link({{addresses[1], {}}, {addresses[2], {}}, {addresses[3], {}}});
  EventLoop loop(PollerOf(link));
  ArpPass pass(addresses, {kLan}, PlanLinkPass(addresses, {kLan}), link,
               {.rate = 1000, .tries = 1, .lastWait = milliseconds{1000}}, loop);
  LinkLayerStage linkLayer(
      [&] { return std::vector<NeighbourEntry>{{.address = addresses[2]}}; }, std::cerr, false,
      &pass, LinkLayerStage::Clock::now(), {},
      [&, begun = false]() mutable { return std::exchange(begun, true) ? c.after : c.before; });
  ResultBook book(addresses);
  while (pass.Busy()) {
    loop.RunOnce(milliseconds{10});
    const auto verdicts = pass.TakeVerdicts();
    for (const std::size_t position : verdicts.answered) {
      book.FileProbeReport(LabelOf(position) + (position == 1 ? ",1,64,," : ",Dead"));
    }
    linkLayer.Enrich(book, book.TakeFinished());
  }
  const std::vector<State> expected{State::kAlive, State::kSilent, c.withoutEntry};
  for (std::size_t position = 1; position <= expected.size(); ++position) {
    const auto view = ViewOf(book.Results()[position], {});
    const bool withheld = view.state == State::kUnchecked;
    EXPECT_EQ(view.state, expected[position - 1]) << c.what << " " << position;
    EXPECT_EQ(view.evidence == Evidence::kFullNeighbourTable && !view.echo, withheld) << position;
  }
}

INSTANTIATE_TEST_SUITE_P(LinkPass, TableFull,
                         ::testing::Values(TableFullCase{"NeverFull", 7, 7, State::kSilent},
                                           TableFullCase{"FullMeanwhile", 7, 12, State::kUnchecked},
                                           TableFullCase{"NoCountTold", {}, {}, State::kSilent}),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace hostsweep::controller
