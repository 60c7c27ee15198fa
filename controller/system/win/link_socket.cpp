// Windows has no packet socket for the link pass: the system resolves
// addresses itself, and every target takes the echo path.
#include "controller/system/link_socket.h"

namespace hostsweep::controller {

std::unique_ptr<LinkSocket> OpenLinkSocket(std::string& whyNot) {
  whyNot = "no packet socket on Windows";
  return nullptr;
}

}  // namespace hostsweep::controller
