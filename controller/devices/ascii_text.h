// Comparing what devices write, where protocols ignore ASCII case (DNS
// names, HTTP field names) and where the rules do.
#pragma once

#include <algorithm>
#include <string_view>

namespace hostsweep::controller {

constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool SameText(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

}  // namespace hostsweep::controller
