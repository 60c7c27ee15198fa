#include "controller/results.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "controller/batches.h"
#include "protocol/report.h"

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
std::optional<HostResult> LiveResult(const ProbeReport& report) {
  HostResult result;
  result.state = State::kAlive;
  result.evidence = Evidence::kEchoReply;
  result.roundTripMs = ParseNumber<long>(report.roundTripMs);
  result.ttl = ParseNumber<int>(report.ttl);
  if (!result.roundTripMs || *result.roundTripMs < 0 || !result.ttl || *result.ttl < 0 ||
      *result.ttl > kMostTtl) {
    return std::nullopt;
  }
  result.name = report.name;
  result.netbiosMac = report.mac;
  result.nameSource = result.name.empty() ? NameSource::kNone : NameSource::kDns;
  return result;
}

}  // namespace

std::string_view StateText(State state) {
  switch (state) {
    case State::kPending:
      return "pending";
    case State::kAlive:
      return "alive";
    case State::kDead:
      return "dead";
    case State::kNamed:
      return "named";
    case State::kUnnamed:
      return "unnamed";
    case State::kNoReport:
      return "no report";
    case State::kSilent:
      return "silent";
  }
  return "pending";
}

std::string_view EvidenceText(Evidence evidence) {
  switch (evidence) {
    case Evidence::kEchoReply:
      return "echo reply";
    case Evidence::kNoEchoReply:
      return "no echo reply";
    case Evidence::kArpReply:
      return "ARP reply";
    case Evidence::kNoArpReply:
      return "no ARP reply";
    case Evidence::kNeighbourEntry:
      return "neighbour entry";
    case Evidence::kNone:
      break;
  }
  return "";
}

bool IsFound(State state) {
  return state == State::kAlive || state == State::kSilent || state == State::kNamed;
}

std::string_view NameSourceText(NameSource source) {
  switch (source) {
    case NameSource::kDns:
      return "dns";
    case NameSource::kMdns:
      return "mdns";
    case NameSource::kNetbios:
      return "netbios";
    case NameSource::kNone:
      break;
  }
  return "";
}

ResultBook::ResultBook(const std::vector<Address>& addresses)
    : awaitingNames_(addresses.size(), false) {
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
    return File(*position, {.state = State::kDead, .evidence = Evidence::kNoEchoReply});
  }
  auto live = LiveResult(*report);
  return live ? File(*position, std::move(*live)) : Filing::kUnknown;
}

Filing ResultBook::FileName(std::size_t position, std::string_view name) {
  if (position >= results_.size()) {
    return Filing::kUnknown;
  }
  return File(position, {.state = name.empty() ? State::kUnnamed : State::kNamed,
                         .name = std::string(name),
                         .nameSource = name.empty() ? NameSource::kNone : NameSource::kDns});
}

void ResultBook::FileNoLinkReply(std::size_t position) {
  File(position, {.state = State::kDead, .evidence = Evidence::kNoArpReply});
}

void ResultBook::MarkUnreported(std::size_t first, std::size_t count) {
  for (std::size_t position = first; position < first + count && position < results_.size();
       ++position) {
    if (results_[position].state == State::kPending) {
      File(position, {.state = State::kNoReport});
    }
  }
}

void ResultBook::AddNames(std::size_t position, const ExtraNames& names) {
  HostResult& slot = results_.at(position);
  awaitingNames_[position] = false;
  if (slot.name.empty() && !names.mdns.empty()) {
    slot.name = names.mdns;
    slot.nameSource = NameSource::kMdns;
  } else if (slot.name.empty() && !names.netbios.empty()) {
    slot.name = names.netbios;
    slot.nameSource = NameSource::kNetbios;
  }
  slot.workgroup = names.workgroup;
}

Filing ResultBook::File(std::size_t position, HostResult result) {
  HostResult& slot = results_[position];
  if (slot.state != State::kPending) {
    return Filing::kDuplicate;
  }
  result.address = slot.address;
  slot = std::move(result);
  ++done_;
  finished_.push_back(position);
  return Filing::kFiled;
}

std::size_t ResultBook::Found() const {
  return static_cast<std::size_t>(std::count_if(
      results_.begin(), results_.end(), [](const HostResult& r) { return IsFound(r.state); }));
}

}  // namespace hostsweep::controller
