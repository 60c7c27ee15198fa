// Times as the formats and the watch write them.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hostsweep::controller {

// Seconds since the epoch.
long long EpochSeconds(std::chrono::system_clock::time_point when);
// The local time as ctime() writes it, without the line end.
std::string LocalTimeText(std::chrono::system_clock::time_point when);
// ISO 8601 in UTC ("2026-12-08T21:03:00Z") for `seconds` since the epoch.
std::string UtcText(std::int64_t seconds);
// UtcText's text back; nothing for any other.
std::optional<std::int64_t> UtcSeconds(std::string_view text);

// A duration as people give one: a whole number of seconds, minutes or hours
// ("90s", "20m", "1h"), at least a second, at most `longest`; nothing for
// any other text.
std::optional<std::chrono::seconds> ParseDuration(std::string_view text,
                                                  std::chrono::seconds longest);
// `seconds` as ParseDuration reads it, in the largest unit that divides it
// ("20m"); empty for 0.
std::string DurationText(std::int64_t seconds);

// Where a time is told: UTC for what scripts read, the local zone for a
// person at a terminal.
enum class TimeZone { kUtc, kLocal };

// UtcText, or the local time as a person reads it ("2026-12-08 22:03:00").
std::string TimeText(std::int64_t seconds, TimeZone zone);

}  // namespace hostsweep::controller
