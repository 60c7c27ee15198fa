// Readable names for the cases of a parameterised test, in place of gtest's
// numbers and byte dumps.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>

namespace hostsweep::testing {

// Letters and digits kept, each run of anything else one '_', none at the ends.
inline std::string CaseName(std::string_view text) {
  std::string name;
  for (const char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
      name += c;
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  if (!name.empty() && name.back() == '_') {
    name.pop_back();
  }
  return name.empty() ? "empty" : name;
}

// A raw input as a case prints it: quoted, its control bytes escaped.
inline std::string Quoted(std::string_view text) {
  return ::testing::PrintToString(std::string(text));
}

// The last argument of INSTANTIATE_TEST_SUITE_P: each case named by its
// number and what gtest prints of it (a case's PrintTo, or the value itself),
// which the listing shows too; the number keeps apart raw inputs that differ
// in their punctuation alone ("+1" and "-1").
inline constexpr auto kNumberedName = [](const auto& info) {
  return std::to_string(info.index) + "_" + CaseName(::testing::PrintToString(info.param));
};

}  // namespace hostsweep::testing
