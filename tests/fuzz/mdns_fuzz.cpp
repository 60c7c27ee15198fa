// mDNS answers and queries as a peer may send them: parsing never reads
// outside the datagram, never follows compression pointers for ever, gives no
// name longer than DNS allows, and what is accepted survives a round trip.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "tests/fuzz/check.h"
#include "tests/tools/mdns_answer.h"

using hostsweep::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span datagram(data, size);
  // Most inputs answer the ID they carry, so the checks behind it are reached.
  const std::uint16_t id = size >= 2 ? static_cast<std::uint16_t>(data[0] << 8 | data[1]) : 0;
  const std::string question = hostsweep::mdns::ReverseName(0x0AD5000A);
  if (const auto name = hostsweep::mdns::ParsePtrAnswer(datagram, id, question)) {
    Check(!name->empty() && name->size() < hostsweep::mdns::kMaxNameLength);
  }
  const auto query = hostsweep::mdns::ParsePtrQuery(datagram);
  if (!query) {
    return 0;
  }
  Check(query->name.size() < hostsweep::mdns::kMaxNameLength);
  if (query->name.empty() || query->name.find("..") != std::string::npos ||
      query->name.front() == '.' || query->name.back() == '.') {
    return 0;  // empty labels are not written back
  }
  const auto answer = hostsweep::mdns::EncodePtrAnswer(*query, "host.local");
  const auto back = hostsweep::mdns::ParsePtrAnswer(answer, query->id, query->name);
  Check(back == "host.local");
  return 0;
}
