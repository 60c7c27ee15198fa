#include "controller/model/json_fields.h"

#include <cstdint>
#include <string_view>

#include "controller/base/printable.h"

namespace hostsweep::controller {

std::string JsonText(const Json& value, int indent) {
  const std::string text = value.dump(indent, ' ', false, Json::error_handler_t::replace);
  // The library writes C0 characters in strings as escapes already, so any
  // left are the line breaks of an indented document, and stay. Every other
  // control or direction character can only be in a string: its escape reads
  // back as the same text.
  return ReplaceControls(text, [](std::uint32_t point) {
    if (point < 0x20) {
      return std::string(1, static_cast<char>(point));
    }
    // Every such character is in the Basic Multilingual Plane: four digits.
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::string escape = "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
      escape += kDigits[(point >> static_cast<unsigned>(shift)) & 0xFU];
    }
    return escape;
  });
}

}  // namespace hostsweep::controller
