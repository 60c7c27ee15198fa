// Windows has no packet socket for the link pass: the system resolves
// addresses itself, and every target takes the echo path.
#include "controller/system/link_socket.h"

#include "controller/base/build_parts.h"

namespace hostsweep::controller {

LinkInterface TrunkPort(const std::string& /*name*/) { RefuseNotBuilt("--vlan"); }

std::unique_ptr<LinkSocket> OpenLinkSocket(std::string& whyNot) {
  whyNot = "no packet socket on Windows";
  return nullptr;
}

}  // namespace hostsweep::controller
