#include "controller/system/http_server.h"

#include "controller/base/errors.h"

namespace hostsweep::controller {

// Not built for Windows yet: its console's Ctrl-C and Winsock's waits would
// need a server of their own.
std::unique_ptr<HttpServer> ServeHttp(const std::string& /*host*/, std::uint16_t /*port*/,
                                      HttpAnswer /*answer*/) {
  throw UsageError("--metrics-listen is not available in this build");
}

}  // namespace hostsweep::controller
