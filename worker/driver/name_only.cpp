#include "driver/name_only.h"

#include <exception>

#include "driver/exit_status.h"
#include "driver/report_channel.h"
#include "net/name_lookup.h"
#include "platform/os.h"

namespace hostsweep {

void ReportNameOnly(const Fields& fields) {
  try {
    const std::string name = LookupHostName(Field(fields, kLabel1));
    SendReport(Field(fields, kReplyWindow), FitName(name, 0));
  } catch (const std::exception&) {
    os::EndProcess(kExitFailed);
  }
}

}  // namespace hostsweep
