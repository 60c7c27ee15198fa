#include "controller/base/build_parts.h"

#include <algorithm>

#include "controller/base/errors.h"

namespace hostsweep::controller {

std::span<const PartNotBuilt> PartsNotBuilt() {
#ifdef _WIN32
  // Debian builds none of these libraries for Windows, and Windows has no
  // POSIX shell for the event commands.
  static const std::vector<PartNotBuilt> kParts{
      {{"--webhook", "--webhook-format"}, "the Windows build has no libcurl"},
      {{"--mqtt"}, "the Windows build has no libmosquitto"},
      {{"--on-event"}, "it needs a POSIX shell, which Windows does not have"},
      {{"--metrics-listen"}, "the Windows build has no HTTP server"},
      {{"--web", "--web-password", "--web-cert", "--web-key"},
       "the Windows build has no HTTP server library"},
      {{"--snmp", "--snmp-auth"}, "the Windows build has no net-snmp"},
      {{"--vlan"}, "Windows gives programs no packet sockets to tag frames on"},
      {{"--state", "--history"},
       "the Windows build has no SQLite; --watch and --compare work without it"},
  };
  return kParts;
#elif defined(HOSTSWEEP_SWEEP_ONLY)
  // scripts/sweep's quick build: what a sweep needs, and none of the libraries
  // beyond it.
  constexpr std::string_view kWhy =
      "this hostsweep was built for sweeps alone, as scripts/sweep builds it; "
      "cmake --preset release builds all of it";
  static const std::vector<PartNotBuilt> kParts{
      {{"--webhook", "--webhook-format"}, kWhy},
      {{"--mqtt"}, kWhy},
      {{"--web", "--web-password", "--web-cert", "--web-key"}, kWhy},
      {{"--snmp", "--snmp-auth"}, kWhy},
      {{"--state", "--history"}, kWhy},
  };
  return kParts;
#else
  return {};
#endif
}

std::optional<std::string> NotInThisBuild(std::string_view option) {
  for (const PartNotBuilt& part : PartsNotBuilt()) {
    if (std::ranges::find(part.options, option) != part.options.end()) {
      return std::string(option) + " is not in this build: " + std::string(part.why);
    }
  }
  return std::nullopt;
}

void RefuseNotBuilt(std::string_view option) {
  throw UsageError(NotInThisBuild(option).value_or(std::string(option) + " is not in this build"));
}

}  // namespace hostsweep::controller
