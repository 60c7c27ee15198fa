// The rights the controller holds, uses and gives up: one platform half each.
#pragma once

namespace hostsweep::controller {

// Gives up every capability the controller was started with: called once its
// packet socket is open, before anything else is read or started.
void DropPrivileges();
// Root (on Windows, any user: there is no link pass there). Others may not
// send ARP requests faster than the default pace, as only root may flood
// with ping: the right to the packet socket can be given to every user.
bool MaySetAnyArpRate();
// No program the controller starts from now on gains a right from its file
// (capability or set-user-ID bit): for a --worker that is not ours.
void ForbidGainingRights();

}  // namespace hostsweep::controller
