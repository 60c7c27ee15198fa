// The request line: the worker's argument text, written by the controller and
// by a worker for its successor, and split at every "," into fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hostsweep {

using Fields = std::vector<std::string>;

enum FieldIndex : std::size_t {
  kReplyWindow = 0,
  kAddress1 = 1,
  kLabel1 = 2,
  kAddress2 = 3,
  kLabel2 = 4,
  kAddress3 = 5,
  kLabel3 = 6,
  kPauseCount = 7,
};

// A request names at most three addresses.
inline constexpr std::size_t kRequestSlots = 3;

// One slot of a request: an address and the label its report will carry.
struct SlotRequest {
  std::string address;
  std::string label;
};

// The pause count every successor gets, whatever its starter's was: a text
// that does not start with a number, so it reads as 0 and each pause is one
// yield. Successors of every version read this literal text; it is part of
// the request line a worker writes, not a setting.
inline constexpr std::string_view kSuccessorPause = "A(7)";

// "<reply window>,<address 1>,<label 1>,...,<label 3>,<pause count>"; the
// slots after the given ones (at most three) are left empty.
std::string FormatRequestLine(std::string_view replyWindow, const std::vector<SlotRequest>& slots,
                              std::string_view pauseCount);

// The name-only request for one address: "<reply window>,0,<address>".
std::string FormatNameRequest(std::string_view replyWindow, std::string_view address);

// Splits at every ","; fields are not trimmed and empty ones are kept.
Fields SplitRequestLine(std::string_view text);

// The field at `index`, or a Failure naming the missing field.
const std::string& Field(const Fields& fields, std::size_t index);

// The number the text starts with, blanks ignored anywhere ("1 2" is 12);
// 0 when it does not start with a number.
double LeadingNumber(std::string_view text);

// True when the whole text (blanks around it allowed) is a number equal to 0.
// Address texts, names and the empty text are not.
bool IsNumberZero(std::string_view text);

// The reply window field as a 32-bit handle value, or a Failure.
std::int32_t ReplyWindowHandle(std::string_view field);

}  // namespace hostsweep
