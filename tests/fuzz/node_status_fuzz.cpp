// Node status replies as a peer may send them: parsing never reads outside
// the datagram, an accepted reply never makes the adapter status writer step
// outside the caller's buffer, and what is accepted survives a round trip.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/posix/adapter_status.h"
#include "tests/fuzz/check.h"
#include "tests/tools/node_status_answer.h"

using hostsweep::fuzz::Check;

namespace {

using hostsweep::node_status::NodeStatus;

// An exactly sized heap block, so that a write past its end is caught.
void WriteIntoBufferOf(const NodeStatus& status, std::size_t length) {
  std::vector<hostsweep::os::UCHAR> buffer(length);
  const auto written = hostsweep::node_status::WriteAdapterStatus(
      status, buffer.data(), static_cast<hostsweep::os::WORD>(length));
  Check(written.length <= length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span datagram(data, size);
  // Most inputs answer the transaction they name, so the checks behind the
  // transaction ID are reached.
  const std::uint16_t id = size >= 2 ? static_cast<std::uint16_t>(data[0] << 8 | data[1]) : 0;
  const auto status = hostsweep::node_status::ParseReply(datagram, id);
  const auto request = hostsweep::node_status::ParseRequest(datagram);
  if (request) {
    Check(request->questionName.size() <= size);
  }
  if (!status) {
    return 0;
  }
  const std::size_t last = size == 0 ? 0 : data[size - 1];
  WriteIntoBufferOf(*status, sizeof(hostsweep::os::ADAPTER_STATUS) + last);
  WriteIntoBufferOf(*status, sizeof(hostsweep::os::ADAPTER_STATUS) - 1 + last % 2);
  WriteIntoBufferOf(*status, 680);

  const auto ownRequest =
      hostsweep::node_status::ParseRequest(hostsweep::node_status::EncodeRequest(id));
  Check(ownRequest.has_value());
  const auto again = hostsweep::node_status::ParseReply(EncodeReply(*ownRequest, *status), id);
  Check(again.has_value() && again->names.size() == status->names.size() &&
        again->statistics == status->statistics);
  return 0;
}
