#pragma once

namespace hostsweep::controller {

inline constexpr int kExitFound = 0;      // at least one host alive (named, with --names-only)
inline constexpr int kExitNoneFound = 1;  // the sweep ran; no host alive (named)
inline constexpr int kExitChanged = 2;    // --compare: something changed since the earlier sweep
inline constexpr int kExitUsage = 3;      // bad option or target; nothing was started
inline constexpr int kExitSystem = 4;     // the system refused what the sweep needs
// The --compare or --state file is corrupt, cut short, foreign, newer or in use; nothing was
// started.
inline constexpr int kExitEarlierResults = 5;
inline constexpr int kExitInterrupted = 130;  // Ctrl-C or SIGTERM; partial results printed

}  // namespace hostsweep::controller
