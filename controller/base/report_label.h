// The label each address goes by in its worker's request line, by which the
// worker's report names it: "h" and the address's position in the sweep, in
// decimal (comma-free and unique per sweep).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace hostsweep::controller {

std::string LabelOf(std::size_t position);
std::optional<std::size_t> PositionOfLabel(std::string_view label);

}  // namespace hostsweep::controller
