#include "controller/base/time_text.h"

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

}  // namespace hostsweep::controller
