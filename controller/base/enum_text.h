// The text of each value of an enum, written once as a table that is read
// both ways: from value to text for the formats, from text to value for the
// readers of what the formats wrote.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace hostsweep::controller {

template <typename Enum>
struct EnumText {
  Enum value;
  std::string_view text;
};

// The value's text; empty for a value the table leaves out.
template <typename Enum, std::size_t N>
constexpr std::string_view TextOf(const std::array<EnumText<Enum>, N>& table, Enum value) {
  const auto* found =
      std::find_if(table.begin(), table.end(),
                   [value](const EnumText<Enum>& entry) { return entry.value == value; });
  return found == table.end() ? std::string_view{} : found->text;
}

// The value whose text `text` is; nothing for a text the table does not hold.
template <typename Enum, std::size_t N>
constexpr std::optional<Enum> ValueOf(const std::array<EnumText<Enum>, N>& table,
                                      std::string_view text) {
  const auto* found = std::find_if(table.begin(), table.end(), [text](const EnumText<Enum>& entry) {
    return entry.text == text;
  });
  return found == table.end() ? std::nullopt : std::optional<Enum>(found->value);
}

}  // namespace hostsweep::controller
