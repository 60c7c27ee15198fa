// Standard streams, the terminal and the user's interruption: one platform
// half each.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace hostsweep::controller {

// Which of standard output and error were closed when hostsweep started.
struct ClosedStreams {
  bool input;
  bool output;
  bool error;
};
// Puts the null device in place of every standard stream that is closed, so
// that no descriptor the sweep opens takes its number: results or messages
// would go to it, or a write would wait on it for ever. Called first in main.
ClosedStreams HoldClosedStandardStreams();

bool IsTerminal(std::FILE* stream);
// How many columns wide the terminal standard output is; 0 when it cannot tell.
std::size_t TerminalColumns();

// How a write to standard output or standard error ended.
enum class WriteOutcome { kWritten, kInterrupted, kReaderGone, kFailed };
// Writes all of `bytes` to standard output or, with `toError`, standard error.
// A reader that has stopped taking them keeps it waiting only until the user
// interrupts (kInterrupted, the rest unwritten; the interruption stays for the
// sweep to see). `problem` is set to a failed write's cause.
WriteOutcome WriteStandard(bool toError, std::string_view bytes, std::string& problem);

}  // namespace hostsweep::controller
