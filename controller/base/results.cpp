#include "controller/base/results.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "common/report.h"
#include "controller/base/report_label.h"

namespace hostsweep::controller {
namespace {

constexpr int kMostTtl = 255;

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
  Number value{};
  const auto* end = text.data() + text.size();
  const auto [rest, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc{} || rest != end) {
    return std::nullopt;
  }
  return value;
}

// A live report's figures checked and taken over.
std::optional<ProbeFacts> LiveFacts(const ProbeReport& report) {
  ProbeFacts facts;
  facts.state = State::kAlive;
  facts.roundTripMs = ParseNumber<long>(report.roundTripMs);
  facts.ttl = ParseNumber<int>(report.ttl);
  if (!facts.roundTripMs || *facts.roundTripMs < 0 || !facts.ttl || *facts.ttl < 0 ||
      *facts.ttl > kMostTtl) {
    return std::nullopt;
  }
  facts.name = report.name;
  facts.netbiosMac = report.mac;
  return facts;
}

std::optional<MacAddress> RealMac(const std::optional<MacAddress>& mac) {
  return mac && !IsPlaceholderMac(*mac) ? mac : std::nullopt;
}

// What the state rests on: the worker's echo requests, the controller's own
// ARP requests, or the neighbour table.
Evidence EvidenceOf(const HostResult& result, State shown) {
  const bool arp = result.link && result.link->fromArp;
  switch (shown) {
    case State::kAlive:
      return Evidence::kEchoReply;
    case State::kSilent:
      return arp ? Evidence::kArpReply : Evidence::kNeighbourEntry;
    case State::kDead:
      return result.probe.noArpReply ? Evidence::kNoArpReply : Evidence::kNoEchoReply;
    case State::kUnchecked:
      return Evidence::kFullNeighbourTable;
    default:
      return Evidence::kNone;
  }
}

MacSource LinkMacSource(const LinkFacts& link) {
  if (link.fromArp) {
    return MacSource::kArp;
  }
  return link.ownInterface ? MacSource::kInterface : MacSource::kNeighbour;
}

void ShowMac(const HostResult& result, HostView& view) {
  const std::optional<MacAddress> neighbour =
      result.link ? RealMac(result.link->mac) : std::nullopt;
  // The worker asks only hosts reverse DNS names, the controller only the others.
  std::optional<MacAddress> unitId = RealMac(ParseMac(result.probe.netbiosMac));
  if (!unitId && result.names) {
    unitId = RealMac(result.names->unitId);
  }
  // A lease's MAC is the one the server heard the address asked for from;
  // a unit ID is whatever the host reports, any adapter's or none.
  const std::optional<MacAddress> leased = result.lease ? RealMac(result.lease->mac) : std::nullopt;
  // The router's entry is what it heard from the address now; a lease, whom
  // the address was given to.
  const std::optional<MacAddress> routed = RealMac(result.routerMac);
  if (neighbour) {
    view.mac = neighbour;
    view.macSource = LinkMacSource(*result.link);
  } else if (routed) {
    view.mac = routed;
    view.macSource = MacSource::kSnmp;
  } else if (leased) {
    view.mac = leased;
    view.macSource = MacSource::kDhcpLease;
  } else if (unitId) {
    view.mac = unitId;
    view.macSource = MacSource::kNetbios;
  }
}

void ShowName(const HostResult& result, HostView& view) {
  static const ExtraNames kNoNames;
  static const GivenNames kNoneGiven;
  const ExtraNames& names = result.names ? *result.names : kNoNames;
  const GivenNames& given = result.given ? *result.given : kNoneGiven;
  static const LeaseFacts kNoLease;
  static const std::string kNoName;
  const LeaseFacts& lease = result.lease ? *result.lease : kNoLease;
  const std::pair<const std::string&, NameSource> candidates[] = {
      {result.probe.name, NameSource::kDns},
      {names.dns, NameSource::kDns},
      {names.mdns, NameSource::kMdns},
      {given.mdnsHost, NameSource::kMdns},
      {names.netbios, NameSource::kNetbios},
      {given.dnsSd, NameSource::kDnsSd},
      {given.upnp, NameSource::kUpnp},
      // What the client asked to be called: no host vouches for it. Heard
      // from the device itself, it is its latest word.
      {result.dhcpName ? *result.dhcpName : kNoName, NameSource::kDhcp},
      {lease.name, NameSource::kDhcpLease}};
  for (const auto& [name, source] : candidates) {
    if (!name.empty()) {
      view.name = name;
      view.nameSource = source;
      break;
    }
  }
  if (result.names) {
    view.workgroup = result.names->workgroup;
  }
}

// What the echo requests found (none go to an address that never answered
// ARP, which could not have answered them either); nothing where none could
// be sent, or none may have left.
std::optional<std::string_view> EchoVerdict(const HostResult& result, State shown) {
  if (result.probe.state == State::kAlive) {
    return "alive";
  }
  return result.probe.state == State::kDead && !result.probe.noEchoSent &&
                 shown != State::kUnchecked
             ? std::optional<std::string_view>("dead")
             : std::nullopt;
}

}  // namespace

std::string AddressText(const HostView& view) {
  return view.ipv6Only && !view.ipv6.empty() ? view.ipv6.front() : FormatAddress(view.address);
}

std::string DeviceText(std::string_view type, std::string_view model) {
  const std::string_view between = type.empty() || model.empty() ? "" : "/";
  return std::string(type) + std::string(between) + std::string(model);
}

std::string MakeAndModel(const DeviceFacts& device) {
  if (device.model.starts_with(device.make)) {
    return device.model;
  }
  return device.make + (device.model.empty() ? "" : " ") + device.model;
}

bool IsFound(State state) {
  return state == State::kAlive || state == State::kSilent || state == State::kNamed;
}

State StateOf(const HostResult& result) {
  if (result.probe.state != State::kDead || !result.link) {
    return result.probe.state;
  }
  if (result.link->noRoomForEcho) {
    return State::kUnchecked;
  }
  return result.link->heardDuringSweep ? State::kSilent : State::kDead;
}

HostView ViewOf(const HostResult& result, const VendorOf& vendorOf) {
  const auto netbiosMac = ParseMac(result.probe.netbiosMac);
  const State state = StateOf(result);
  HostView view{.address = result.address,
                .state = state,
                .echo = EchoVerdict(result, state),
                .roundTripMs = result.probe.roundTripMs,
                .ttl = result.probe.ttl,
                .netbiosMac = netbiosMac ? FormatMac(*netbiosMac) : result.probe.netbiosMac};
  view.evidence = EvidenceOf(result, view.state);
  ShowName(result, view);
  ShowMac(result, view);
  if (result.ipv6) {
    view.ipv6 = result.ipv6->addresses;
  }
  view.macSharedBy = result.macSharedBy;
  if (result.device) {
    view.device = *result.device;
    view.deviceAsked = true;
  }
  if (view.mac && vendorOf) {
    view.vendor = vendorOf(*view.mac);
  }
  return view;
}

ResultBook::ResultBook(const std::vector<Address>& addresses) : awaiting_(addresses.size(), 0) {
  results_.reserve(addresses.size());
  for (const Address address : addresses) {
    results_.push_back({.address = address});
  }
}

Filing ResultBook::FileProbeReport(std::string_view text) {
  const auto report = ParseProbeReport(text);
  const auto position = report ? PositionOfLabel(report->label) : std::nullopt;
  if (!position || *position >= results_.size()) {
    return Filing::kUnknown;
  }
  if (report->dead) {
    return File(*position, {.state = State::kDead});
  }
  auto live = LiveFacts(*report);
  return live ? File(*position, std::move(*live)) : Filing::kUnknown;
}

Filing ResultBook::FileName(std::size_t position, std::string_view name) {
  if (position >= results_.size()) {
    return Filing::kUnknown;
  }
  return File(position,
              {.state = name.empty() ? State::kUnnamed : State::kNamed, .name = std::string(name)});
}

void ResultBook::FileNoLinkReply(std::size_t position) {
  File(position, {.state = State::kDead, .noArpReply = true});
}

void ResultBook::FileNoEcho(std::size_t position) {
  File(position, {.state = State::kDead, .noEchoSent = true});
}

void ResultBook::MarkUnreported(std::size_t first, std::size_t count) {
  for (std::size_t position = first; position < first + count && position < results_.size();
       ++position) {
    if (results_[position].probe.state == State::kPending) {
      File(position, {.state = State::kNoReport});
    }
  }
}

void ResultBook::FileLink(std::size_t position, const LinkFacts& facts) {
  auto& link = results_.at(position).link;
  if (!link) {
    link = facts;
  }
}

void ResultBook::FileIpv6(std::size_t position, const Ipv6Facts& facts) {
  auto& slot = results_.at(position).ipv6;
  awaiting_[position] &= ~kAwaitIpv6;
  if (!slot) {
    slot = facts;
  }
}

void ResultBook::FileNames(std::size_t position, const ExtraNames& names) {
  auto& slot = results_.at(position).names;
  awaiting_[position] &= ~kAwaitNames;
  if (!slot) {
    slot = names;
  }
}

void ResultBook::FileDevice(std::size_t position, const DeviceFacts& facts,
                            const GivenNames& given) {
  auto& result = results_.at(position);
  awaiting_[position] &= ~kAwaitDevice;
  if (!result.device) {
    result.device = facts;
    result.given = given;
  }
}

void ResultBook::FileLease(std::size_t position, const LeaseFacts& facts) {
  auto& slot = results_.at(position).lease;
  if (!slot) {
    slot = facts;
  }
}

void ResultBook::FileDhcpName(std::size_t position, const std::string& name) {
  auto& slot = results_.at(position).dhcpName;
  if (!slot) {
    slot = name;
  }
}

void ResultBook::FileRouterMac(std::size_t position, const MacAddress& mac) {
  auto& slot = results_.at(position).routerMac;
  if (!slot) {
    slot = mac;
  }
}

void ResultBook::FileMacSharing(std::size_t position, std::optional<std::size_t> sharedBy) {
  awaiting_.at(position) &= ~kAwaitMacSharing;
  results_[position].macSharedBy = sharedBy;
}

Filing ResultBook::File(std::size_t position, ProbeFacts probe) {
  ProbeFacts& slot = results_[position].probe;
  if (slot.state != State::kPending) {
    return Filing::kDuplicate;
  }
  slot = std::move(probe);
  ++done_;
  finished_.push_back(position);
  return Filing::kFiled;
}

std::size_t ResultBook::Found() const {
  return static_cast<std::size_t>(std::count_if(
      results_.begin(), results_.end(), [](const HostResult& r) { return IsFound(StateOf(r)); }));
}

}  // namespace hostsweep::controller
