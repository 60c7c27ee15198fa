// The columns the table and CSV share, each value as text.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "controller/base/results.h"

namespace hostsweep::controller {

constexpr std::size_t kColumnCount = 10;
constexpr std::size_t kIpv6Column = 7;
constexpr std::size_t kChangeColumn = 8;
constexpr std::size_t kAliasColumn = 9;
using Columns = std::array<std::string, kColumnCount>;

// Every column of the row; the last three, the IPv6 addresses, the change and
// the inventory's alias, only where the sweep asked for them.
Columns ColumnsOf(const HostView& view);

}  // namespace hostsweep::controller
