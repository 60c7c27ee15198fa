// The --known file's CSV, as the inventory reads it and the dashboard edits
// it: RFC 4180 rows under the header mac,address,alias,owner,expect,note.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace hostsweep::controller {

inline constexpr std::array<std::string_view, 6> kKnownHeader{"mac",   "address", "alias",
                                                              "owner", "expect",  "note"};
// Where each field is on a row.
inline constexpr std::size_t kKnownMac = 0;
inline constexpr std::size_t kKnownAddress = 1;
inline constexpr std::size_t kKnownAlias = 2;
inline constexpr std::size_t kKnownOwner = 3;
inline constexpr std::size_t kKnownExpect = 4;
inline constexpr std::size_t kKnownNote = 5;
// The optional column of the reader's own that the watch reads: how long the
// device may go unseen before it is gone (a phone that dozes).
inline constexpr std::string_view kAwayAfterColumn = "away_after";
// No alias or note needs more than a line of text.
inline constexpr std::size_t kMostKnownFieldBytes = 256;
// A spreadsheet's export may begin with one.
inline constexpr std::string_view kKnownByteOrderMark = "\xEF\xBB\xBF";

// The fields of one row, as RFC 4180 quotes them: a field in double quotes
// may hold commas, doubled quotes and line breaks. The six columns read are
// bounded; the user's own after them are not (--history --csv lists every
// name a device had there), the file's size bounds them.
std::vector<std::string> KnownFields(std::string_view line);

// The lines from `at` that make one row: the next line, joined by a line
// break with those after it while a quoted field is open (an odd number of
// quotes so far). `at` moves past them, `number` counts them.
std::string KnownRow(std::string_view text, std::size_t& at, std::size_t& number);

// `value` as a field of a row: quoted where it holds a comma, a quote or a
// line break.
std::string KnownField(std::string_view value);

}  // namespace hostsweep::controller
