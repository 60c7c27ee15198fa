// The columns the table and CSV share, each value as text.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "controller/base/results.h"

namespace hostsweep::controller {

constexpr std::size_t kColumnCount = 12;
constexpr std::size_t kTypeColumn = 7;
constexpr std::size_t kModelColumn = 8;
constexpr std::size_t kIpv6Column = 9;
constexpr std::size_t kChangeColumn = 10;
constexpr std::size_t kAliasColumn = 11;
using Columns = std::array<std::string, kColumnCount>;

// Every column of the row, in the table's order: the device's type and model
// (its make before it) where it said them; the IPv6 addresses, the change and
// the inventory's alias only where the sweep asked for them.
Columns ColumnsOf(const HostView& view);

}  // namespace hostsweep::controller
