// The request line as any caller may write it, and report packets and texts
// as any local process may send them: no input crashes, failures are the
// project's own, and splitting, formatting and packing lose nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"
#include "common/posix/report_socket.h"
#include "common/report.h"
#include "common/request_line.h"
#include "tests/fuzz/check.h"

using hostsweep::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto fields = hostsweep::SplitRequestLine(text);
  std::string joined = fields.front();
  for (std::size_t index = 1; index < fields.size(); ++index) {
    joined += "," + fields[index];
  }
  Check(joined == text);
  if (fields.size() == 8) {
    const std::vector<hostsweep::SlotRequest> slots{
        {fields[1], fields[2]}, {fields[3], fields[4]}, {fields[5], fields[6]}};
    Check(hostsweep::FormatRequestLine(fields[0], slots, fields[7]) == text);
  }
  if (const auto report = hostsweep::ParseProbeReport(text)) {
    const std::string again =
        report->dead
            ? hostsweep::FormatDeadReport(report->label)
            : std::string(report->label) + "," + std::string(report->roundTripMs) + "," +
                  std::string(report->ttl) + "," + report->name + "," + std::string(report->mac);
    Check(again == text);
  }
  for (const auto& field : fields) {
    (void)hostsweep::LeadingNumber(field);
    (void)hostsweep::IsNumberZero(field);
  }
  // The worker's own reads, in its order; a short line fails with the
  // project's Failure, never anything else. One throw at most per input keeps
  // the run fast.
  try {
    (void)hostsweep::LeadingNumber(hostsweep::Field(fields, hostsweep::kPauseCount));
    (void)hostsweep::IsNumberZero(hostsweep::Field(fields, hostsweep::kAddress1));
    (void)hostsweep::ReplyWindowHandle(hostsweep::Field(fields, hostsweep::kReplyWindow));
  } catch (const hostsweep::Failure&) {
  }

  const std::span bytes(data, size);
  const auto packet = hostsweep::report_socket::Encode(hostsweep::kReportTag, bytes);
  const auto decoded = hostsweep::report_socket::Decode(packet);
  Check(decoded.has_value() && decoded->dwData == hostsweep::kReportTag &&
        std::equal(decoded->payload.begin(), decoded->payload.end(), bytes.begin(), bytes.end()));
  (void)hostsweep::report_socket::Decode(bytes);
  return 0;
}
