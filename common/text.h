// Cutting characters off the ends of a text: request line fields, target
// lines, registry fields, NetBIOS names padded with spaces.
#pragma once

#include <string_view>

namespace hostsweep {

// The text without any of `characters` at its end.
constexpr std::string_view TrimEnd(std::string_view text, std::string_view characters) {
  const auto last = text.find_last_not_of(characters);
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

// The text without any of `characters` at either end.
constexpr std::string_view Trim(std::string_view text, std::string_view characters) {
  const auto first = text.find_first_not_of(characters);
  return first == std::string_view::npos ? std::string_view{}
                                         : TrimEnd(text.substr(first), characters);
}

}  // namespace hostsweep
