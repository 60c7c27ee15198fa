#include "controller/system/privileges.h"

namespace hostsweep::controller {

// A Windows program has no capabilities to give up, and starting another
// program grants it nothing the user does not have.
void DropPrivileges() {}
void ForbidGainingRights() {}
bool MaySetAnyArpRate() { return true; }

}  // namespace hostsweep::controller
