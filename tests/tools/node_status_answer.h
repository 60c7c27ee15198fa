// The responder's half of a node status exchange, for the test responders and
// the fakes: reading the question, writing the answer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/node_status.h"

namespace hostsweep::node_status {

// A question a responder received: its transaction ID and its name as sent
// (encoded "*" and any scope), to be echoed in the answer.
struct Request {
  std::uint16_t transactionId;
  std::vector<std::uint8_t> questionName;
};

// The node status request in `datagram`, or nothing when it is not one.
std::optional<Request> ParseRequest(std::span<const std::uint8_t> datagram);

// The answer to `request`, its name followed by the labels of `scope`.
std::vector<std::uint8_t> EncodeReply(const Request& request, const NodeStatus& status,
                                      const std::vector<std::string>& scope = {});

}  // namespace hostsweep::node_status
