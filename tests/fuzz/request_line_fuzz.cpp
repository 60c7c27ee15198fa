// The request line as any caller may write it, and report packets as any
// local process may send them: no input crashes, failures are the project's
// own, and splitting and packing lose nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "driver/request_line.h"
#include "platform/failure.h"
#include "platform/posix/report_socket.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto fields = hostsweep::SplitRequestLine(text);
  std::string joined = fields.front();
  for (std::size_t index = 1; index < fields.size(); ++index) {
    joined += "," + fields[index];
  }
  Check(joined == text);
  for (const auto& field : fields) {
    (void)hostsweep::LeadingNumber(field);
    (void)hostsweep::IsNumberZero(field);
    try {
      (void)hostsweep::ReplyWindowHandle(field);
    } catch (const hostsweep::Failure&) {
    }
  }
  for (std::size_t index = 0; index <= hostsweep::kPauseCount + 1; ++index) {
    try {
      Check(&hostsweep::Field(fields, index) == &fields.at(index));
    } catch (const hostsweep::Failure&) {
      Check(index >= fields.size());
    }
  }

  const std::span bytes(data, size);
  const auto packet = hostsweep::report_socket::Encode(3, bytes);
  const auto decoded = hostsweep::report_socket::Decode(packet);
  Check(decoded.has_value() && decoded->dwData == 3 &&
        std::equal(decoded->payload.begin(), decoded->payload.end(), bytes.begin(), bytes.end()));
  (void)hostsweep::report_socket::Decode(bytes);
  return 0;
}
