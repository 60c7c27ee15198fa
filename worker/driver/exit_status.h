#pragma once

namespace hostsweep {

// A run that a failure ended (with or without a message) exits with this status.
inline constexpr int kExitFailed = 1;

}  // namespace hostsweep
