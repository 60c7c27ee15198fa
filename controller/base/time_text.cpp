#include "controller/base/time_text.h"

#include <ctime>
#include <iomanip>
#include <sstream>

namespace hostsweep::controller {

long long EpochSeconds(std::chrono::system_clock::time_point when) {
  return std::chrono::duration_cast<std::chrono::seconds>(when.time_since_epoch()).count();
}

namespace {

enum class Zone { kLocal, kUtc };

std::string TimeText(std::time_t since, Zone zone, const char* format) {
  std::tm parts{};
#ifdef _WIN32
  zone == Zone::kUtc ? gmtime_s(&parts, &since) : localtime_s(&parts, &since);
#else
  zone == Zone::kUtc ? gmtime_r(&since, &parts) : localtime_r(&since, &parts);
#endif
  std::ostringstream text;
  text << std::put_time(&parts, format);
  return text.str();
}

}  // namespace

std::string LocalTimeText(std::chrono::system_clock::time_point when) {
  return TimeText(std::chrono::system_clock::to_time_t(when), Zone::kLocal, "%a %b %d %H:%M:%S %Y");
}

std::string UtcText(std::int64_t seconds) {
  return TimeText(static_cast<std::time_t>(seconds), Zone::kUtc, "%Y-%m-%dT%H:%M:%SZ");
}

}  // namespace hostsweep::controller
