// Windows has no packet socket for the link pass: the system resolves
// addresses itself, and every target takes the echo path.
#include "controller/system/link_socket.h"

#include "controller/base/errors.h"

namespace hostsweep::controller {

LinkInterface TrunkPort(const std::string& /*name*/) {
  throw UsageError("--vlan is not available in this build");
}

std::unique_ptr<LinkSocket> OpenLinkSocket(std::string& whyNot) {
  whyNot = "no packet socket on Windows";
  return nullptr;
}

}  // namespace hostsweep::controller
