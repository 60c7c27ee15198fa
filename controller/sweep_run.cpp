#include "controller/sweep_run.h"

#include <ctime>
#include <iomanip>
#include <sstream>

namespace hostsweep::controller {

long long EpochSeconds(std::chrono::system_clock::time_point when) {
  return std::chrono::duration_cast<std::chrono::seconds>(when.time_since_epoch()).count();
}

std::string LocalTimeText(std::chrono::system_clock::time_point when) {
  const std::time_t since = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &since);
#else
  localtime_r(&since, &local);
#endif
  std::ostringstream text;
  text << std::put_time(&local, "%a %b %d %H:%M:%S %Y");
  return text.str();
}

}  // namespace hostsweep::controller
