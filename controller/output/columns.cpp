#include "controller/output/columns.h"

#include <optional>
#include <vector>

namespace hostsweep::controller {

namespace {

std::string OptionalText(const auto& value) {
  return value ? std::to_string(*value) : std::string{};
}

std::optional<std::string> MacText(const HostView& view) {
  return view.mac ? std::optional(FormatMac(*view.mac)) : std::nullopt;
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string joined;
  for (const auto& text : texts) {
    joined += (joined.empty() ? "" : " ") + text;
  }
  return joined;
}

// "moved 10.0.0.23": the change and what it was before.
std::string ChangeColumn(const RowChange& change) {
  std::string text(ChangeText(change.change));
  return change.previous.empty() ? text : text + " " + change.previous;
}

}  // namespace

Columns ColumnsOf(const HostView& view) {
  return {AddressText(view),
          std::string(StateText(view.state)),
          OptionalText(view.roundTripMs),
          OptionalText(view.ttl),
          view.name,
          MacText(view).value_or(""),
          view.vendor,
          view.device.type,
          MakeAndModel(view.device),
          Joined(view.ipv6),
          view.change ? ChangeColumn(*view.change) : std::string{},
          view.known ? view.known->alias : std::string{}};
}

}  // namespace hostsweep::controller
