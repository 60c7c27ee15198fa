#include "controller/recheck/last_questions.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "common/mdns.h"
#include "controller/asking/asker.h"
#include "controller/link/link_pass.h"
#include "controller/system/limits.h"

namespace hostsweep::controller {
namespace {

using Heard = std::vector<std::optional<SeenBy>>;

// The reverse lookup of one host's last address: any answer to it is the
// host's, since the asker's socket hears that address alone.
class ReverseLookup : public Conversation {
 public:
  ReverseLookup(Address address, std::optional<SeenBy>& heard)
      : question_(mdns::ReverseName(address)), heard_(heard) {}

  [[nodiscard]] std::vector<Datagram> Questions() const override {
    return {mdns::EncodePtrQuery(id_, question_)};
  }
  void Take(std::span<const std::uint8_t> datagram) override {
    if (!heard_ && mdns::ParsePtrAnswer(datagram, id_, question_)) {
      heard_ = SeenBy::kMdns;
    }
  }
  [[nodiscard]] bool Answered() const override { return heard_.has_value(); }
  void End() override {}

 private:
  static std::uint16_t NewId() {
    static std::mt19937 random{std::random_device{}()};
    return static_cast<std::uint16_t>(random());
  }

  std::string question_;
  std::optional<SeenBy>& heard_;
  std::uint16_t id_ = NewId();
};

// The host's last IPv4 address; none for one heard over IPv6 alone.
std::optional<Address> LastAddress(const SeenHost& host) {
  return host.ipv6.empty() && host.address != 0 ? std::optional(host.address) : std::nullopt;
}

// True while a host asked has not answered.
bool Unheard(const std::vector<Address>& asked, const Heard& heard) {
  for (std::size_t i = 0; i < asked.size(); ++i) {
    if (asked[i] != 0 && !heard[i]) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<SeenHost> LastQuestions::Ask(const std::vector<SeenHost>& hosts) {
  EventLoop& loop = means_.loop;
  Heard heard(hosts.size());
  std::vector<Address> addresses(hosts.size());  // 0: not asked
  const auto wait = kLastQuestionWait;
  Asker asker(loop, means_.datagrams, {.tries = 1, .perTry = wait, .most = wait},
              MostNameSockets());
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    if (const auto address = LastAddress(hosts[i])) {
      addresses[i] = *address;
      asker.Ask(*address, mdns::kPort, std::make_unique<ReverseLookup>(*address, heard[i]));
    }
  }
  std::unique_ptr<ArpPass> arp;
  const auto plan = PlanLinkPass(addresses, means_.interfaces);
  if (means_.link != nullptr &&
      std::ranges::any_of(plan, [](const auto& via) { return via.has_value(); })) {
    means_.link->Listen();
    LinkSocket* link = means_.link;
    arp = std::make_unique<ArpPass>(
        addresses, means_.interfaces, plan, *link,
        LinkPassSettings{.rate = means_.arpRate,
                         .tries = 1,
                         .retryAfter = wait,
                         .lastWait = wait,
                         .lastWaitFloor = wait,
                         .routed = [link](Address a) { return link->Routed(a); }},
        loop);
  }
  const auto deadline = loop.Now() + wait;
  while (Unheard(addresses, heard) && loop.Now() < deadline) {
    loop.RunOnce(deadline - loop.Now());
    for (const std::size_t i : arp ? arp->TakeVerdicts().answered : std::vector<std::size_t>{}) {
      const MacAddress* mac = arp->AnswerOf(addresses[i]);
      const auto own = DeviceMac(hosts[i]);
      if (!heard[i] && mac != nullptr && (!own || *own == *mac)) {
        heard[i] = SeenBy::kArp;
      }
    }
  }
  std::vector<SeenHost> answered;
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    if (heard[i]) {
      answered.push_back(hosts[i]);
      answered.back().seenBy = heard[i];
    }
  }
  return answered;
}

}  // namespace hostsweep::controller
