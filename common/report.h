// The reports a worker sends: one copy-data packet per address, tagged, whose
// payload is a text and its terminating zero byte.
//   probe:      "<label>,Dead" or "<label>,<round trip ms>,<ttl>,<name>,<mac>"
//   name only:  "<name>" (empty when there is none)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace hostsweep {

// Tag carried in dwData by every report.
inline constexpr std::uint32_t kReportTag = 3;
// The worker's payload buffer holds the text and its terminating zero byte.
inline constexpr std::size_t kPayloadBufferSize = 255;
// Receivers take payloads up to this size; anything much longer than the
// worker's buffer is not a report.
inline constexpr std::size_t kMostReportPayload = 4096;

// The text a payload carries: its bytes up to the first zero byte.
std::string ReportText(std::span<const unsigned char> payload);

std::string FormatDeadReport(std::string_view label);
std::string FormatLiveReport(std::string_view label, std::string_view roundTripMs, int ttl,
                             std::string_view name, std::string_view mac);

// A probe report taken apart. Reports are not escaped, so a name holding
// commas spreads over several items: the MAC is always the last one.
struct ProbeReport {
  std::string_view label{};
  bool dead = false;
  // A live report's items, as text.
  std::string_view roundTripMs{};
  std::string_view ttl{};
  std::string name{};
  std::string_view mac{};
};

// Nothing when `text` is neither a dead report nor has the five items of a
// live one. The items are not checked further.
std::optional<ProbeReport> ParseProbeReport(std::string_view text);

}  // namespace hostsweep
