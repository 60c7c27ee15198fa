// Windows has no packet socket for the link pass: the system resolves
// addresses itself, and every target takes the echo path. Nor a raw ICMPv6
// socket for --ipv6.
#include <memory>
#include <string>

#include "controller/ipv6_neighbours.h"
#include "controller/link_pass.h"
#include "controller/platform_host.h"

namespace hostsweep::controller {

std::unique_ptr<LinkSocket> OpenLinkSocket(std::string& whyNot) {
  whyNot = "no packet socket on Windows";
  return nullptr;
}

// --ipv6 asks over a raw ICMPv6 socket, which Windows keeps from programs;
// there hostsweep sweeps IPv4 alone.
std::unique_ptr<Ipv6Prober> OpenIpv6Prober(std::string& whyNot) {
  whyNot = "--ipv6 is not available on Windows: hostsweep sweeps IPv4 only there";
  return nullptr;
}

// A Windows program has no capabilities to give up, and starting another
// program grants it nothing the user does not have.
void DropPrivileges() {}
void ForbidGainingRights() {}
bool MaySetAnyArpRate() { return true; }

}  // namespace hostsweep::controller
