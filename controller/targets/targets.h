// What the user names on the command line (addresses, ranges, CIDR blocks,
// target files) turned into the list of addresses to sweep.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "controller/base/address.h"

namespace hostsweep::controller {

// More addresses than this in one sweep are refused: a slip such as
// "10.0.0.0/8" would otherwise start millions of processes.
inline constexpr std::size_t kMostTargets = 65536;

// Adds the addresses that one target names, in ascending order, to `addresses`.
// Throws UsageError naming the target when it is malformed or too large.
void ExpandTarget(std::string_view target, std::vector<Address>& addresses);

// A target with its comment fits many times over in a line of this size, and
// the largest sweep's targets, one address a line, in a file of this size.
inline constexpr std::size_t kMostTargetLineBytes = 1024;
inline constexpr std::size_t kMostTargetFileBytes = std::size_t{16} << 20U;

// The targets of a target file: one per line, "#" starts a comment. Throws
// UsageError when a line or the whole exceeds the sizes above, or on a read error.
std::vector<std::string> ReadTargetLines(std::istream& input);

// The targets in the file at `path` ("-": standard input). Throws UsageError
// naming the file when it is a directory, cannot be read or is refused above.
std::vector<std::string> ReadTargetFile(const std::string& path);

// Every target expanded, duplicates after the first left out, order kept.
// Throws UsageError when nothing is named or the total exceeds kMostTargets.
std::vector<Address> ExpandTargets(const std::vector<std::string>& targets);

}  // namespace hostsweep::controller
