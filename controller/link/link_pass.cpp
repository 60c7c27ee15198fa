#include "controller/link/link_pass.h"

#include <algorithm>
#include <string>
#include <utility>

#include "controller/base/results.h"
#include "controller/link/arp_frame.h"

namespace hostsweep::controller {
namespace {

using std::chrono::milliseconds;

// A /31 or /32 has no network or broadcast address.
constexpr int kLongestWithBroadcast = 30;
// After a stall (a slow round of the sweep), requests catch up at most this
// far behind their schedule: a short burst, never a flood.
constexpr milliseconds kMostCatchUp{20};
// Both answers to one request come within this of each other.
constexpr milliseconds kConflictWindow{200};
// How soon a request the system could not take is tried again.
constexpr milliseconds kSendBackoff{1};
// Frames read in one look at what the socket holds: a flood holds up nothing.
constexpr int kMostFramesAtOnce = 4096;
// Requests sent between two looks: on a bridge each request costs its copy to
// every port, so a long burst would keep the answers waiting in the socket.
constexpr int kMostRequestsAtOnce = 64;

// On a VLAN this machine holds no address: it asks as 0.0.0.0, an address
// probe, which hosts answer without taking the asker in as a neighbour.
Address SenderAddress(const LinkInterface& via) { return via.vlan == kUntagged ? via.address : 0; }

}  // namespace

std::vector<std::optional<std::size_t>> PlanLinkPass(const std::vector<Address>& addresses,
                                                     const std::vector<LinkInterface>& interfaces) {
  std::vector<std::optional<std::size_t>> plan(addresses.size());
  for (std::size_t position = 0; position < addresses.size(); ++position) {
    const Address address = addresses[position];
    const auto own = std::any_of(
        interfaces.begin(), interfaces.end(),
        [address](const LinkInterface& i) { return i.vlan == 0 && i.address == address; });
    if (own) {
      continue;
    }
    for (std::size_t i = 0; i < interfaces.size(); ++i) {
      const Address mask = NetworkMask(interfaces[i].prefixLength);
      const Address network = interfaces[i].address & mask;
      if ((address & mask) != network) {
        continue;
      }
      if (interfaces[i].prefixLength <= kLongestWithBroadcast &&
          (address == network || address == (network | ~mask))) {
        break;
      }
      plan[position] = i;
      break;
    }
  }
  return plan;
}

std::vector<std::string> DescribeLinkPlan(const std::vector<LinkInterface>& interfaces,
                                          const std::vector<std::optional<std::size_t>>& plan) {
  std::vector<std::size_t> perInterface(interfaces.size(), 0);
  std::size_t elsewhere = 0;
  for (const auto& interface : plan) {
    ++(interface ? perInterface[*interface] : elsewhere);
  }
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < interfaces.size(); ++i) {
    if (perInterface[i] == 0) {
      continue;
    }
    const LinkInterface& via = interfaces[i];
    std::string line = std::to_string(perInterface[i]) + " addresses on " + via.name;
    if (via.vlan == kUntagged) {
      line += "'s network ";
    } else {
      line.append(" (VLAN ").append(std::to_string(via.vlan)).append(") for ");
    }
    if (via.vlan != kUntagged && via.prefixLength == 0) {
      line += "every target no directly connected network holds";
    } else {
      line.append(FormatAddress(via.address & NetworkMask(via.prefixLength)))
          .append("/")
          .append(std::to_string(via.prefixLength));
    }
    lines.push_back(line + ": ARP requests first, a worker only for those that answer");
  }
  if (elsewhere > 0) {
    lines.push_back(std::to_string(elsewhere) +
                    " addresses behind a router, of this machine or no host's: the echo path");
  }
  return lines;
}

ArpPass::ArpPass(const std::vector<Address>& addresses, std::vector<LinkInterface> interfaces,
                 const std::vector<std::optional<std::size_t>>& plan, LinkSocket& socket,
                 const LinkPassSettings& settings, EventLoop& loop)
    : addresses_(addresses),
      interfaces_(std::move(interfaces)),
      socket_(socket),
      settings_(settings),
      loop_(loop),
      interval_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(1.0 / settings.rate))),
      slowestAnswer_(interfaces_.size(), Clock::duration{0}),
      covered_(addresses.size(), false),
      nextSend_(loop_.Now()) {
  for (std::size_t position = 0; position < plan.size(); ++position) {
    if (plan[position]) {
      byAddress_.emplace(addresses_[position], targets_.size());
      targets_.push_back({.position = position, .interface = *plan[position]});
      covered_[position] = true;
    }
  }
  undecided_ = targets_.size();
  loop_.Watch(socket_.Handle(), kReadable, [this](unsigned /*ready*/) { HearQueued(); });
  step_ = loop_.At(nextSend_, [this] { Step(); });
}

ArpPass::~ArpPass() {
  loop_.Unwatch(socket_.Handle());
  if (step_) {
    loop_.Cancel(*step_);
  }
}

bool ArpPass::Covers(std::size_t position) const { return covered_[position]; }

bool ArpPass::Listening() const {
  return undecided_ > 0 || (!targets_.empty() && loop_.Now() < lastSent_ + kConflictWindow);
}

void ArpPass::End() {
  sharedMacs_.emplace();
  for (const auto& [mac, count] : addressesPerMac_) {
    if (count <= kMostAddressesPerHost) {
      continue;
    }
    sharedMacs_->emplace(mac, count);
    conflicts_.push_back({.mac = mac, .addresses = count});
  }
}

const MacAddress* ArpPass::AnswerOf(Address address) const {
  const auto found = byAddress_.find(address);
  if (found == byAddress_.end() || !targets_[found->second].answer) {
    return nullptr;
  }
  return &*targets_[found->second].answer;
}

void ArpPass::Step() {
  step_.reset();
  // An answer that came in time counts however late the sending let it be
  // read: everything that arrived before `now` is heard before anything is
  // given up at `now`.
  const auto now = loop_.Now();
  HearQueued();
  GiveUpExpired(now);
  SendDue(now);
  if (!Listening()) {
    loop_.Unwatch(socket_.Handle());
    End();
    return;
  }
  step_ = loop_.At(NextEvent(now), [this] { Step(); });
}

void ArpPass::HearQueued() {
  for (int frames = 0; frames < kMostFramesAtOnce; ++frames) {
    const auto frame = socket_.Receive();
    if (!frame) {
      return;
    }
    Hear(*frame);
  }
}

void ArpPass::SendDue(Clock::time_point now) {
  nextSend_ = std::max(nextSend_, now - kMostCatchUp);
  for (int sent = 0; nextSend_ <= now; ++sent) {
    if (sent > 0 && sent % kMostRequestsAtOnce == 0) {
      HearQueued();
    }
    while (!retries_.empty() && targets_[retries_.front()].answer) {
      retries_.pop_front();
    }
    std::size_t target = 0;
    bool fromRetries = false;
    if (!retries_.empty() && targets_[retries_.front()].lastSent + settings_.retryAfter <= now) {
      target = retries_.front();
      fromRetries = true;
    } else if (nextFirst_ < targets_.size()) {
      target = nextFirst_;
    } else {
      return;
    }
    if (!SendTo(target, now)) {
      nextSend_ = now + kSendBackoff;
      return;
    }
    if (fromRetries) {
      retries_.pop_front();
    } else {
      ++nextFirst_;
    }
    nextSend_ += interval_;
  }
}

bool ArpPass::SendTo(std::size_t index, Clock::time_point now) {
  Target& target = targets_[index];
  const LinkInterface& via = interfaces_[target.interface];
  const auto frame =
      EncodeArpRequest(via.mac, SenderAddress(via), addresses_[target.position], via.vlan);
  if (!socket_.Send(via.index, frame)) {
    return false;
  }
  ++target.tries;
  target.lastSent = now;
  lastSent_ = now;
  (target.tries < settings_.tries ? retries_ : finals_).push_back(index);
  return true;
}

void ArpPass::GiveUpExpired(Clock::time_point now) {
  while (!finals_.empty()) {
    Target& target = targets_[finals_.front()];
    if (!target.answer) {
      if (GivenUpAt(target) > now) {
        return;
      }
      target.givenUp = true;
      verdicts_.unanswered.push_back(target.position);
      --undecided_;
    }
    finals_.pop_front();
  }
}

ArpPass::Clock::time_point ArpPass::NextEvent(Clock::time_point now) const {
  // The end of the window for second answers, once nothing else is left.
  auto next =
      lastSent_ + kConflictWindow > now ? lastSent_ + kConflictWindow : Clock::time_point::max();
  if (nextFirst_ < targets_.size()) {
    next = std::min(next, nextSend_);
  }
  if (!retries_.empty()) {
    next = std::min(
        next, std::max(nextSend_, targets_[retries_.front()].lastSent + settings_.retryAfter));
  }
  if (!finals_.empty()) {
    next = std::min(next, GivenUpAt(targets_[finals_.front()]));
  }
  return next;
}

// A quiet switch answers in well under a millisecond, so the whole last wait
// is spent on addresses nobody holds; a link that has shown slow answerers
// keeps its wait long. Targets on links with different waits share one queue:
// one behind a longer wait is given up late, never early.
ArpPass::Clock::time_point ArpPass::GivenUpAt(const Target& target) const {
  const auto adapted = std::clamp<Clock::duration>(
      kSlowestAnswerMultiple * slowestAnswer_[target.interface], settings_.lastWaitFloor,
      std::max<Clock::duration>(settings_.lastWait, settings_.lastWaitFloor));
  return target.lastSent + adapted;
}

void ArpPass::Hear(const LinkFrame& frame) {
  const auto message = DecodeArpFrame(frame.bytes);
  if (!message) {
    return;
  }
  const auto found = byAddress_.find(message->senderAddress);
  if (found == byAddress_.end()) {
    return;
  }
  Target& target = targets_[found->second];
  const LinkInterface& via = interfaces_[target.interface];
  const std::uint16_t vlan =
      frame.strippedVlan != kUntagged ? frame.strippedVlan : VlanOf(frame.bytes);
  if (target.tries == 0 || target.givenUp || frame.interfaceIndex != via.index ||
      vlan != via.vlan ||
      !AnswersOurRequest(*message, addresses_[target.position], via.mac, SenderAddress(via))) {
    return;
  }
  if (!target.answer) {
    // Measured from the latest request: an answer to an earlier one reads
    // as quicker than it was, which only a host slower than the retry meets.
    slowestAnswer_[target.interface] =
        std::max(slowestAnswer_[target.interface], loop_.Now() - target.lastSent);
    target.answer = message->senderMac;
    ++addressesPerMac_[message->senderMac];
    const bool linkOnly =
        via.vlan != kUntagged && settings_.routed && !settings_.routed(addresses_[target.position]);
    (linkOnly ? verdicts_.answeredLinkOnly : verdicts_.answered).push_back(target.position);
    --undecided_;
    return;
  }
  if (*target.answer != message->senderMac && !target.conflictShown) {
    target.conflictShown = true;
    ++addressesPerMac_[message->senderMac];
    conflicts_.push_back({.address = addresses_[target.position],
                          .mac = *target.answer,
                          .otherMac = message->senderMac});
  }
}

}  // namespace hostsweep::controller
