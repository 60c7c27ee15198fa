#include "controller/base/time_text.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <sstream>

namespace hostsweep::controller {

long long EpochSeconds(std::chrono::system_clock::time_point when) {
  return std::chrono::duration_cast<std::chrono::seconds>(when.time_since_epoch()).count();
}

namespace {

std::string ZonedText(std::time_t since, TimeZone zone, const char* format) {
  std::tm parts{};
#ifdef _WIN32
  zone == TimeZone::kUtc ? gmtime_s(&parts, &since) : localtime_s(&parts, &since);
#else
  zone == TimeZone::kUtc ? gmtime_r(&since, &parts) : localtime_r(&since, &parts);
#endif
  std::ostringstream text;
  text << std::put_time(&parts, format);
  return text.str();
}

}  // namespace

std::string LocalTimeText(std::chrono::system_clock::time_point when) {
  return ZonedText(std::chrono::system_clock::to_time_t(when), TimeZone::kLocal,
                   "%a %b %d %H:%M:%S %Y");
}

std::string UtcText(std::int64_t seconds) {
  return ZonedText(static_cast<std::time_t>(seconds), TimeZone::kUtc, "%Y-%m-%dT%H:%M:%SZ");
}

std::string TimeText(std::int64_t seconds, TimeZone zone) {
  return zone == TimeZone::kUtc
             ? UtcText(seconds)
             : ZonedText(static_cast<std::time_t>(seconds), zone, "%Y-%m-%d %H:%M:%S");
}

std::optional<std::int64_t> UtcSeconds(std::string_view text) {
  constexpr std::size_t kLength = 20;  // "2026-12-08T21:03:00Z"
  int year = 0;
  unsigned month = 0;
  unsigned day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  char zone = 0;
  const std::string terminated(text);
  if (text.size() != kLength ||
      std::sscanf(terminated.c_str(), "%4d-%2u-%2uT%2d:%2d:%2d%c", &year, &month, &day, &hour,
                  &minute, &second, &zone) != 7 ||
      zone != 'Z') {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{month},
                                         std::chrono::day{day}};
  if (!date.ok()) {
    return std::nullopt;
  }
  const auto seconds = std::chrono::sys_days(date).time_since_epoch() + std::chrono::hours(hour) +
                       std::chrono::minutes(minute) + std::chrono::seconds(second);
  const std::int64_t count = std::chrono::duration_cast<std::chrono::seconds>(seconds).count();
  // Out-of-range fields ("25:61:99") read as some other time: only the text
  // this time writes is taken.
  if (UtcText(count) != text) {
    return std::nullopt;
  }
  return count;
}

std::optional<std::chrono::seconds> ParseDuration(std::string_view text,
                                                  std::chrono::seconds longest) {
  constexpr std::size_t kMostDigits = 6;
  if (text.size() < 2 || text.size() > kMostDigits + 1) {
    return std::nullopt;
  }
  const std::string_view digits = text.substr(0, text.size() - 1);
  if (digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  constexpr std::string_view kUnits = "smh";
  const std::size_t unit = kUnits.find(text.back());
  if (unit == std::string_view::npos) {
    return std::nullopt;
  }
  constexpr std::array<long long, 3> kSecondsPer{1, 60, 3600};
  const std::chrono::seconds interval(std::stoll(std::string(digits)) * kSecondsPer.at(unit));
  if (interval.count() < 1 || interval > longest) {
    return std::nullopt;
  }
  return interval;
}

std::string DurationText(std::int64_t seconds) {
  if (seconds == 0) {
    return {};
  }
  constexpr std::int64_t kMinute = 60;
  constexpr std::int64_t kHour = 3600;
  if (seconds % kHour == 0) {
    return std::to_string(seconds / kHour) + "h";
  }
  return seconds % kMinute == 0 ? std::to_string(seconds / kMinute) + "m"
                                : std::to_string(seconds) + "s";
}

}  // namespace hostsweep::controller
