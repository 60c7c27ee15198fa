// The Windows build has no XML library: the JSON lines are its way in.
#include "controller/base/errors.h"
#include "controller/history/sweep_xml.h"

namespace hostsweep::controller {

void ReadSweepXml(std::string_view /*bytes*/, const std::function<void(SweepXmlHost)>& /*take*/) {
  throw EarlierResultsError(
      "reading XML needs the Linux build; give --compare the earlier sweep's --json output");
}

}  // namespace hostsweep::controller
