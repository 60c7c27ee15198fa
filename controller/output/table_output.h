// The aligned table, written once every host is in.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "controller/output/result_writer.h"

namespace hostsweep::controller {

// Aligned columns. For a terminal `terminalWidth` columns wide, each column
// is as wide as its widest value, the name, maker, type, model and alias cut
// to fit only when the rows do not (ending in an ellipsis), and a round trip
// under 1 ms reads "<1"; without it (piped output) every value but a long name
// or model is whole, those cut to 40 characters ending in "...". TYPE and
// MODEL columns follow the maker when any device said what it is (on a
// terminal, each when a row fills it), an IPV6 column when any host has an
// IPv6 address, and a CHANGE column comes last when `compared`.
std::string Table(const std::vector<HostView>& views,
                  std::optional<std::size_t> terminalWidth = std::nullopt, bool compared = false);

std::unique_ptr<ResultWriter> MakeTableWriter(std::ostream& out,
                                              std::optional<std::size_t> terminalWidth,
                                              bool compared);

}  // namespace hostsweep::controller
