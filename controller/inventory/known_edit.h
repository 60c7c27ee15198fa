// The dashboard's edits of the --known file: one device's row changed or
// added, every other byte of the file as the user left it (a byte order
// mark, CRLF line ends, quoting, blank lines, columns of their own).
#pragma once

#include <string>
#include <string_view>

#include "controller/model/seen_host.h"

namespace hostsweep::controller {

// What the page sets of a device, as the file's columns write it.
struct KnownFactsEdit {
  std::string alias{};
  std::string owner{};
  std::string expect{};     // "", "always" or "ignore"
  std::string awayAfter{};  // "", or a duration such as 20m
  std::string note{};
};

// `text` with the row the inventory finds for `device` given `facts` (its
// MAC and address fields left as the user keyed it), or, when none is, a row
// added at the end with the device's MAC and address. The first away_after
// set adds its column to the header and an empty field to every row. The
// text itself when nothing changes. Throws UsageError ("LINE: what") for a
// file or an edit the inventory would refuse.
std::string EditedKnownText(std::string_view text, const SeenHost& device,
                            const KnownFactsEdit& facts);

}  // namespace hostsweep::controller
