// The link-layer pass: before any worker starts, the controller asks every
// target on a directly connected network for its MAC itself, with ARP
// requests from a packet socket, paced and retried. An address that never
// answers cannot take an echo request either (the system would give up on it
// the same way, only slower, holding a neighbour table entry meanwhile), so it
// is dead without a worker; one that answers gets its worker as every other
// address does.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "controller/base/address.h"
#include "controller/base/link_conflict.h"
#include "controller/base/mac_address.h"
#include "controller/system/link_socket.h"

namespace hostsweep::controller {

// For each address, the interface (index into `interfaces`) on whose network it
// lies, the first that holds it; nothing for an address behind a router, an
// interface's own address, and a network's network and broadcast addresses
// (no host answers for those). A VLAN link holds its network as an interface
// does, without an own address.
std::vector<std::optional<std::size_t>> PlanLinkPass(const std::vector<Address>& addresses,
                                                     const std::vector<LinkInterface>& interfaces);

// For -v: which path each network's addresses take, and why.
std::vector<std::string> DescribeLinkPlan(const std::vector<LinkInterface>& interfaces,
                                          const std::vector<std::optional<std::size_t>>& plan);

struct LinkPassSettings {
  double rate = 0;  // requests per second, retries included
  int tries = 0;    // requests per address at most
  // How long an address is given to answer before it is asked again.
  std::chrono::milliseconds retryAfter{0};
  // How long after its last request before it counts as silent: lastWait at
  // most, kSlowestAnswerMultiple times the slowest answer heard on its link so
  // far, never less than lastWaitFloor.
  std::chrono::milliseconds lastWait{0};
  std::chrono::milliseconds lastWaitFloor{0};
  // Whether echo requests can reach an address a VLAN link answered for
  // (the system's routes); none: they can.
  std::function<bool(Address)> routed{};
};

inline constexpr int kSlowestAnswerMultiple = 3;

// What the pass decided since it was last asked.
struct LinkVerdicts {
  std::vector<std::size_t> answered;    // positions whose address answered
  std::vector<std::size_t> unanswered;  // positions whose address never did
  // Positions whose address answered on a VLAN link that no route reaches:
  // the link alone saw them, and no echo request can follow.
  std::vector<std::size_t> answeredLinkOnly;
};

class ArpPass {
 public:
  using Clock = EventLoop::Clock;

  // `plan` as PlanLinkPass made it for `addresses` and `interfaces`. The
  // pass sends and hears as `loop` turns, from its first turn on.
  ArpPass(const std::vector<Address>& addresses, std::vector<LinkInterface> interfaces,
          const std::vector<std::optional<std::size_t>>& plan, LinkSocket& socket,
          const LinkPassSettings& settings, EventLoop& loop);
  ~ArpPass();
  ArpPass(const ArpPass&) = delete;
  ArpPass& operator=(const ArpPass&) = delete;

  [[nodiscard]] bool Covers(std::size_t position) const;
  // How many addresses it covers.
  [[nodiscard]] std::size_t CoveredCount() const { return targets_.size(); }
  // True until the pass is over and has said so (see SharedMacs).
  [[nodiscard]] bool Busy() const { return !sharedMacs_; }
  // What was decided since the last call. Once every address is decided
  // and no second answer is due, the pass ends.
  LinkVerdicts TakeVerdicts() { return std::exchange(verdicts_, {}); }
  // The MAC that answered for `address` first, if one did.
  [[nodiscard]] const MacAddress* AnswerOf(Address address) const;
  // Once the pass is over: each MAC that answered for more than
  // kMostAddressesPerHost of its addresses, with how many (an address counts
  // for the first two MACs that answered it); null until then.
  [[nodiscard]] const std::map<MacAddress, std::size_t>* SharedMacs() const {
    return sharedMacs_ ? &*sharedMacs_ : nullptr;
  }
  // What it heard that no one host explains: each address that answered
  // from a second MAC, as heard, then (once the pass is over) each MAC of
  // SharedMacs.
  [[nodiscard]] const std::vector<LinkConflict>& Conflicts() const { return conflicts_; }

 private:
  struct Target {
    std::size_t position;
    std::size_t interface;
    int tries = 0;
    Clock::time_point lastSent{};
    std::optional<MacAddress> answer{};
    bool conflictShown = false;
    bool givenUp = false;  // counted as silent: a later answer is too late
  };

  // True while an address is undecided, and a little after the last request,
  // so that a second answer to it (an address conflict) is heard too.
  [[nodiscard]] bool Listening() const;
  // Hears what has come, gives up on the addresses whose time is over, sends
  // what is due, and sets the timer for the next of these.
  void Step();
  void End();
  // Hears the frames the socket holds now, without waiting.
  void HearQueued();
  void SendDue(Clock::time_point now);
  bool SendTo(std::size_t target, Clock::time_point now);
  void GiveUpExpired(Clock::time_point now);
  [[nodiscard]] Clock::time_point NextEvent(Clock::time_point now) const;
  [[nodiscard]] Clock::time_point GivenUpAt(const Target& target) const;
  void Hear(const LinkFrame& frame);

  const std::vector<Address>& addresses_;
  std::vector<LinkInterface> interfaces_;
  LinkSocket& socket_;
  LinkPassSettings settings_;
  EventLoop& loop_;
  std::optional<EventLoop::TimerId> step_;
  Clock::duration interval_;
  std::vector<Target> targets_;
  std::vector<Clock::duration> slowestAnswer_;  // by interface
  std::vector<bool> covered_;                   // by position
  std::unordered_map<Address, std::size_t> byAddress_;
  std::size_t nextFirst_ = 0;        // the next target not asked yet
  std::deque<std::size_t> retries_;  // asked, with tries left, oldest first
  std::vector<LinkConflict> conflicts_;
  std::deque<std::size_t> finals_;  // asked for the last time, oldest first
  std::size_t undecided_;
  Clock::time_point nextSend_;
  Clock::time_point lastSent_{};
  LinkVerdicts verdicts_;
  std::map<MacAddress, std::size_t> addressesPerMac_;
  std::optional<std::map<MacAddress, std::size_t>> sharedMacs_;  // once over
};

}  // namespace hostsweep::controller
