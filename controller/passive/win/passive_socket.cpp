// Windows has no packet socket: the watch hears devices at its sweeps alone.
#include "controller/passive/passive_socket.h"

namespace hostsweep::controller {

std::unique_ptr<PassiveSocket> OpenPassiveSocket(std::string& whyNot) {
  whyNot = "listening between sweeps is not available in this build";
  return nullptr;
}

}  // namespace hostsweep::controller
