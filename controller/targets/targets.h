// What the user names on the command line (addresses, ranges, lists, CIDR
// blocks, wildcards, host names, target files) turned into the list of
// addresses to sweep.
#pragma once

#include <cstddef>
#include <functional>
#include <iostream>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "controller/base/address.h"
#include "controller/system/host_names.h"

namespace hostsweep::controller {

// More addresses than this in one sweep are refused: a slip such as
// "10.0.0.0/8" would otherwise start millions of processes.
inline constexpr std::size_t kMostTargets = 65536;

// How a host name given as a target becomes an address: the system's
// resolver in a run, a table in the tests.
using HostResolver = std::function<HostLookup(const std::string& name)>;

// Adds the addresses that one target names to `addresses`: a range or block
// in ascending order, a list ("10.0.0.1,5,7-9") in its own. Throws
// UsageError naming the target when it is malformed, too large, or a host
// name that does not resolve.
void ExpandTarget(std::string_view target, std::vector<Address>& addresses,
                  const HostResolver& resolve = LookUpHostName);

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

// Every target expanded, duplicates after the first left out, order kept;
// each host name is looked up once, before any address is swept. A name
// without an address is said on `notices` and left out. Throws UsageError
// when nothing is left to sweep or the total exceeds kMostTargets.
std::vector<Address> ExpandTargets(const std::vector<std::string>& targets,
                                   const HostResolver& resolve = LookUpHostName,
                                   std::ostream& notices = std::cerr);

}  // namespace hostsweep::controller
