// Windows has no packet socket for the link pass: the system resolves
// addresses itself, and every target takes the echo path.
#include <memory>
#include <string>

#include "controller/link_pass.h"
#include "controller/platform_host.h"

namespace hostsweep::controller {

std::unique_ptr<LinkSocket> OpenLinkSocket(std::string& whyNot) {
  whyNot = "no packet socket on Windows";
  return nullptr;
}

// A Windows program has no capabilities to give up, and starting another
// program grants it nothing the user does not have.
void DropPrivileges() {}
void ForbidGainingRights() {}
bool MaySetAnyArpRate() { return true; }

}  // namespace hostsweep::controller
