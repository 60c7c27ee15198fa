#include "tests/integration/stand_ins.h"

#include <gtest/gtest.h>

namespace hostsweep::testing {

std::unique_ptr<ChildProcess> StandIn(const std::string& address, const std::string& mac,
                                      milliseconds delay) {
  auto responder = std::make_unique<ChildProcess>(std::vector<std::string>{
      HOSTSWEEP_LAB_SCRIPT, "hostexec", "charlie", HOSTSWEEP_ARP_RESPONDER, "--interface", "eth0",
      "--address", address, "--mac", mac, "--delay", std::to_string(delay.count())});
  EXPECT_TRUE(responder->AwaitOutput("ready", milliseconds(5000))) << address;
  return responder;
}

std::vector<std::unique_ptr<ChildProcess>> StandUp(const StandIns& hosts) {
  // The scanner's neighbour table remembers no earlier MAC.
  RunProcess({"/bin/ip", "-4", "neigh", "flush", "dev", "br0"});
  std::vector<std::unique_ptr<ChildProcess>> responders;
  for (const auto& [address, mac] : hosts) {
    responders.push_back(StandIn(address, mac));
  }
  return responders;
}

}  // namespace hostsweep::testing
