// Starts a successor worker for the slots that follow a live host.
#pragma once

#include <string>

#include "common/request_line.h"

namespace hostsweep {

// The successor's request line for a live host in slot 1 or 2: the reply
// window, the remaining address and label pairs moved up, empty fields after
// them, and the fixed pause count "A(7)".
std::string SuccessorRequestLine(const Fields& fields, int slot);

// Starts the successor for a live host in `slot` (1 or 2) without waiting for
// it. A start that fails raises a Failure.
void HandOffRemaining(const Fields& fields, int slot);

}  // namespace hostsweep
