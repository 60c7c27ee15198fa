// Packets as anyone on the network may send them, read by either kind of ICMP
// socket: matching never reads outside the packet, a match's data lies inside
// it, and an encoded request sums to zero and is matched by its own echo.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "platform/posix/icmp_packet.h"
#include "tests/fuzz/check.h"

using hostsweep::fuzz::Check;

namespace {

namespace icmp_packet = hostsweep::icmp_packet;

void CheckInside(const std::optional<icmp_packet::Outcome>& outcome,
                 std::span<const std::uint8_t> packet) {
  if (outcome && !outcome->data.empty()) {
    Check(outcome->data.data() >= packet.data() &&
          outcome->data.data() + outcome->data.size() <= packet.data() + packet.size());
  }
}

std::uint16_t BigEndian16At(std::span<const std::uint8_t> bytes, std::size_t at) {
  return at + 2 <= bytes.size() ? static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span packet(data, size);
  // Most inputs answer the request they name (source address, and the
  // identifier and sequence after the IP header), so the checks behind those
  // comparisons are reached.
  icmp_packet::Request request{0, 0, 0};
  if (size >= 16) {
    std::memcpy(&request.destination, &data[12], sizeof request.destination);
  }
  const std::size_t icmp = size == 0 ? 0 : static_cast<std::size_t>(data[0] & 0x0F) * 4;
  request.identifier = BigEndian16At(packet, icmp + 4);
  request.sequence = BigEndian16At(packet, icmp + 6);

  CheckInside(icmp_packet::MatchRaw(packet, request), packet);
  CheckInside(icmp_packet::MatchDatagram(packet, request.destination, 1, request), packet);
  const icmp_packet::QueuedError error{size % 2 == 0, size == 0 ? std::uint8_t{0} : data[0],
                                       size < 2 ? std::uint8_t{0} : data[1],
                                       static_cast<std::uint32_t>(size)};
  (void)icmp_packet::MatchQueuedError(packet, request.destination, error, request);

  // The request, echoed back by its destination behind a plain IP header.
  const auto message = icmp_packet::EncodeEchoRequest(request, packet);
  Check(icmp_packet::Checksum(message) == 0);
  std::vector<std::uint8_t> echo(icmp_packet::kIpHeaderSize);
  echo[0] = 0x45;
  std::memcpy(&echo[12], &request.destination, sizeof request.destination);
  echo.insert(echo.end(), message.begin(), message.end());
  echo[icmp_packet::kIpHeaderSize] = 0;  // echo reply
  const auto reply = icmp_packet::MatchRaw(echo, request);
  Check(reply.has_value() && reply->status == hostsweep::os::IP_SUCCESS &&
        std::equal(reply->data.begin(), reply->data.end(), packet.begin(), packet.end()));
  return 0;
}
