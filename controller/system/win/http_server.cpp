#include "controller/system/http_server.h"

#include "controller/base/build_parts.h"

namespace hostsweep::controller {

// Not built for Windows yet: its console's Ctrl-C and Winsock's waits would
// need a server of their own.
std::unique_ptr<HttpServer> ServeHttp(const std::string& /*host*/, std::uint16_t /*port*/,
                                      HttpAnswer /*answer*/) {
  RefuseNotBuilt("--metrics-listen");
}

}  // namespace hostsweep::controller
