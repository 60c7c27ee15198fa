#include "controller/system/privileges.h"

namespace hostsweep::controller {

// Every user may send echo requests through icmp.dll.
void CheckEchoRights(const std::string& /*workerPath*/) {}

// A Windows program has no capabilities to give up, and starting another
// program grants it nothing the user does not have.
void DropPrivileges() {}
void ForbidGainingRights() {}
bool MaySetAnyArpRate() { return true; }

}  // namespace hostsweep::controller
