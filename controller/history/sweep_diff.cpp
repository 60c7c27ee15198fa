#include "controller/history/sweep_diff.h"

#include <functional>

namespace hostsweep::controller {
namespace {

bool FromLink(const SeenHost& host) {
  return host.macSource == MacSource::kNeighbour || host.macSource == MacSource::kArp;
}

// Both MACs name devices, and not the same one.
bool DifferentDevices(const SeenHost& earlier, const SeenHost& current) {
  return IdentifiesDevice(earlier) && IdentifiesDevice(current) && earlier.mac != current.mac;
}

using Rule = std::function<std::optional<Change>(const SeenHost& earlier, const SeenHost& current)>;

std::optional<Change> SameDevice(const SeenHost& earlier, const SeenHost& current) {
  if (!IdentifiesDevice(current) || !IdentifiesDevice(earlier) || earlier.mac != current.mac) {
    return std::nullopt;
  }
  if (earlier.address != current.address) {
    return Change::kMoved;
  }
  return earlier.name == current.name ? Change::kNone : Change::kRenamed;
}

std::optional<Change> ReplacedDevice(const SeenHost& earlier, const SeenHost& current) {
  const bool replaced = earlier.address == current.address && DifferentDevices(earlier, current) &&
                        FromLink(earlier) && FromLink(current);
  return replaced ? std::optional(Change::kMacChanged) : std::nullopt;
}

std::optional<Change> SameAddressAndName(const SeenHost& earlier, const SeenHost& current) {
  const bool same = earlier.address == current.address && earlier.name == current.name;
  return same ? std::optional(Change::kNone) : std::nullopt;
}

std::optional<Change> SameNameElsewhere(const SeenHost& earlier, const SeenHost& current) {
  const bool moved = !current.name.empty() && earlier.name == current.name &&
                     earlier.address != current.address && !DifferentDevices(earlier, current);
  return moved ? std::optional(Change::kMoved) : std::nullopt;
}

std::optional<Change> SameAddressOtherName(const SeenHost& earlier, const SeenHost& current) {
  const bool renamed = earlier.address == current.address && !DifferentDevices(earlier, current);
  return renamed ? std::optional(Change::kRenamed) : std::nullopt;
}

}  // namespace

SeenHost SeenHostOf(const HostView& view) {
  return {.address = view.address, .name = view.name, .mac = view.mac, .macSource = view.macSource};
}

bool IdentifiesDevice(const SeenHost& host) {
  return host.mac && !IsPlaceholderMac(*host.mac) && !IsLocallyAdministered(*host.mac);
}

SweepComparison CompareSweeps(const std::vector<SeenHost>& earlier,
                              const std::vector<SeenHost>& current) {
  SweepComparison comparison{.current = std::vector<HostMatch>(current.size()), .unmatched = {}};
  std::vector<bool> taken(earlier.size(), false);
  const std::vector<Rule> rounds{SameDevice, ReplacedDevice, SameAddressAndName, SameNameElsewhere,
                                 SameAddressOtherName};
  for (const auto& rule : rounds) {
    for (std::size_t c = 0; c < current.size(); ++c) {
      auto& match = comparison.current[c];
      for (std::size_t e = 0; e < earlier.size() && !match.earlier; ++e) {
        if (const auto change = taken[e] ? std::nullopt : rule(earlier[e], current[c])) {
          match = {.change = *change, .earlier = e};
          taken[e] = true;
        }
      }
    }
  }
  for (std::size_t e = 0; e < earlier.size(); ++e) {
    if (!taken[e]) {
      comparison.unmatched.push_back(e);
    }
  }
  return comparison;
}

RowChange RowChangeOf(const HostMatch& match, const std::vector<SeenHost>& earlier) {
  RowChange row{.change = match.change, .previous = {}};
  if (!match.earlier) {
    return row;
  }
  const SeenHost& before = earlier[*match.earlier];
  switch (match.change) {
    case Change::kMoved:
      row.previous = FormatAddress(before.address);
      break;
    case Change::kRenamed:
      row.previous = before.name;
      break;
    case Change::kMacChanged:
      row.previous = before.mac ? FormatMac(*before.mac) : std::string{};
      break;
    default:
      break;
  }
  return row;
}

}  // namespace hostsweep::controller
