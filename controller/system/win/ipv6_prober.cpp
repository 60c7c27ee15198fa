#include "controller/system/ipv6_prober.h"

namespace hostsweep::controller {

// --ipv6 asks over a raw ICMPv6 socket, which Windows keeps from programs;
// there hostsweep sweeps IPv4 alone.
std::unique_ptr<Ipv6Prober> OpenIpv6Prober(std::string& whyNot) {
  whyNot = "--ipv6 is not available on Windows: hostsweep sweeps IPv4 only there";
  return nullptr;
}

}  // namespace hostsweep::controller
