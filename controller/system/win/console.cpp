#include "controller/system/console.h"

#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

namespace hostsweep::controller {

// A standard handle is not a number the next handle opened takes: a closed
// one stays closed, and its writes fail.
// Windows gives a console program's missing streams no number another handle
// could take; only a missing standard input is worth telling (-f -).
ClosedStreams HoldClosedStandardStreams() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  return {input == nullptr || input == INVALID_HANDLE_VALUE, false, false};
}

bool IsTerminal(std::FILE* stream) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the C runtime keeps handles as integers
  const auto console = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  if (::GetConsoleMode(console, &mode) == FALSE) {
    return false;
  }
  // The progress line is redrawn with terminal escapes; a console that cannot
  // read them gets no progress line.
  return ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

std::size_t TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO console{};
  if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &console) == FALSE) {
    return 0;
  }
  return static_cast<std::size_t>(console.srWindow.Right - console.srWindow.Left + 1);
}

// Through the C library, whose text mode gives the console and files the line
// ends they have always had. A reader that stops taking the output keeps the
// write, and with it an interruption, waiting.
WriteOutcome WriteStandard(bool toError, std::string_view bytes, std::string& problem) {
  std::FILE* stream = toError ? stderr : stdout;
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() &&
      std::fflush(stream) == 0) {
    return WriteOutcome::kWritten;
  }
  if (errno == EPIPE) {
    return WriteOutcome::kReaderGone;
  }
  problem = std::strerror(errno);
  return WriteOutcome::kFailed;
}

}  // namespace hostsweep::controller
