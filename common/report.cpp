#include "common/report.h"

#include <algorithm>
#include <vector>

namespace hostsweep {
namespace {

constexpr std::string_view kDead = "Dead";
constexpr std::size_t kLiveItems = 5;

std::vector<std::string_view> SplitAtCommas(std::string_view text) {
  std::vector<std::string_view> items;
  for (std::size_t comma = text.find(','); comma != std::string_view::npos;
       comma = text.find(',')) {
    items.push_back(text.substr(0, comma));
    text.remove_prefix(comma + 1);
  }
  items.push_back(text);
  return items;
}

}  // namespace

std::string ReportText(std::span<const unsigned char> payload) {
  return {payload.begin(), std::find(payload.begin(), payload.end(), '\0')};
}

std::string FormatDeadReport(std::string_view label) {
  std::string text(label);
  text += ",";
  text += kDead;
  return text;
}

std::string FormatLiveReport(std::string_view label, std::string_view roundTripMs, int ttl,
                             std::string_view name, std::string_view mac) {
  const std::string ttlText = std::to_string(ttl);
  std::string text(label);
  for (const std::string_view item : {roundTripMs, std::string_view(ttlText), name, mac}) {
    text += ",";
    text += item;
  }
  return text;
}

std::optional<ProbeReport> ParseProbeReport(std::string_view text) {
  const auto items = SplitAtCommas(text);
  if (items.size() == 2 && items[1] == kDead) {
    return ProbeReport{.label = items[0], .dead = true};
  }
  if (items.size() < kLiveItems) {
    return std::nullopt;
  }
  ProbeReport report{
      .label = items[0], .roundTripMs = items[1], .ttl = items[2], .mac = items.back()};
  for (std::size_t i = 3; i + 1 < items.size(); ++i) {
    report.name += i > 3 ? "," : "";
    report.name += items[i];
  }
  return report;
}

}  // namespace hostsweep
