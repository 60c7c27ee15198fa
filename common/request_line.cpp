#include "common/request_line.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/failure.h"
#include "common/text.h"

namespace hostsweep {
namespace {

constexpr const char* kFieldNames[] = {
    "reply window", "address 1", "label 1", "address 2",
    "label 2",      "address 3", "label 3", "pause count",
};

bool IsBlankOrLineEnd(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

std::string_view TrimBlanks(std::string_view text) { return Trim(text, " \t\n\r"); }

// Length of the longest prefix of `text` that reads as a decimal number:
// sign, digits, fraction, exponent. 0 when there is none.
std::size_t NumberPrefixLength(std::string_view text) {
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    ++at;
  }
  std::size_t digits = 0;
  while (at < text.size() && IsDigit(text[at])) {
    ++at;
    ++digits;
  }
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && IsDigit(text[at])) {
      ++at;
      ++digits;
    }
  }
  if (digits == 0) {
    return 0;
  }
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    std::size_t exponent = at + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) {
      ++exponent;
    }
    if (exponent < text.size() && IsDigit(text[exponent])) {
      while (exponent < text.size() && IsDigit(text[exponent])) {
        ++exponent;
      }
      at = exponent;
    }
  }
  return at;
}

double ToDouble(std::string_view number) {
  const std::string copy(number);
  return std::strtod(copy.c_str(), nullptr);
}

}  // namespace

std::string FormatRequestLine(std::string_view replyWindow, const std::vector<SlotRequest>& slots,
                              std::string_view pauseCount) {
  std::string line(replyWindow);
  for (std::size_t slot = 0; slot < kRequestSlots; ++slot) {
    const SlotRequest empty;
    const SlotRequest& request = slot < slots.size() ? slots[slot] : empty;
    line.append(",").append(request.address).append(",").append(request.label);
  }
  line += ",";
  line += pauseCount;
  return line;
}

std::string FormatNameRequest(std::string_view replyWindow, std::string_view address) {
  std::string line(replyWindow);
  line += ",0,";
  line += address;
  return line;
}

Fields SplitRequestLine(std::string_view text) {
  Fields fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    fields.emplace_back(text.substr(start, comma - start));
    if (comma == std::string_view::npos) {
      return fields;
    }
    start = comma + 1;
  }
}

const std::string& Field(const Fields& fields, std::size_t index) {
  if (index >= fields.size()) {
    std::string name = index < std::size(kFieldNames) ? kFieldNames[index] : "field";
    throw Failure("the request line has " + std::to_string(fields.size()) +
                  " comma-separated fields, so field " + std::to_string(index) + " (" + name +
                  ") is missing; a request needs 8: reply window, three address and label "
                  "pairs, pause count");
  }
  return fields[index];
}

double LeadingNumber(std::string_view text) {
  std::string packed;
  for (const char c : text) {
    if (!IsBlankOrLineEnd(c)) {
      packed += c;
    }
  }
  const std::size_t length = NumberPrefixLength(packed);
  return length == 0 ? 0.0 : ToDouble(std::string_view(packed).substr(0, length));
}

bool IsNumberZero(std::string_view text) {
  const std::string_view number = TrimBlanks(text);
  return !number.empty() && NumberPrefixLength(number) == number.size() && ToDouble(number) == 0.0;
}

std::int32_t ReplyWindowHandle(std::string_view field) {
  std::string_view digits = TrimBlanks(field);
  if (!digits.empty() && digits.front() == '+') {
    digits.remove_prefix(1);
  }
  std::int32_t handle = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), handle);
  if (error == std::errc::result_out_of_range) {
    throw Failure("the reply window \"" + std::string(field) +
                  "\" is out of range for a 32-bit window handle");
  }
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    throw Failure("the reply window \"" + std::string(field) +
                  "\" is not a number; field 0 must be the decimal handle of the window that "
                  "receives the reports");
  }
  return handle;
}

}  // namespace hostsweep
