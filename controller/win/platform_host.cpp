#include "controller/platform_host.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/win/system_message.h"
#include "controller/errors.h"
#include "controller/name_queries.h"
#include "controller/win/platform_worker_host.h"
#include "controller/worker_path.h"

namespace hostsweep::controller {
namespace {

std::string LastError() { return SystemMessage(::GetLastError()); }

// Relative paths and "/" separators become the full path the system expects.
std::string FullPath(const std::string& path) {
  std::string full(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) {
      throw SystemError("cannot find the worker " + path + ": " + LastError());
    }
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);
  }
}

// The folder hostsweep.exe itself is in: its worker and makers' registries
// are installed beside it.
std::filesystem::path ProgramFolder() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      throw SystemError("cannot find hostsweep's own program file: " + LastError());
    }
    // A path that fills the buffer may have been cut short.
    if (length < path.size()) {
      path.resize(length);
      return std::filesystem::path(path).parent_path();
    }
    path.resize(path.size() * 2);
  }
}

void CheckWorkerPath(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    throw SystemError("cannot run the worker " + path + ": " + LastError());
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw SystemError("cannot run the worker " + path + ": it is a folder");
  }
}

}  // namespace

// Every user may send echo requests through icmp.dll: nothing to check for them.
std::unique_ptr<WorkerHost> MakeWorkerHost(const std::string& workerPath, bool /*sendsEchoes*/) {
  CheckWorkerPath(workerPath);
  // The results keep the line ends their format gives them (CSV's "\r\n"
  // among them) instead of gaining a "\r" before every "\n".
  ::_setmode(::_fileno(stdout), _O_BINARY);
  return std::make_unique<PlatformWorkerHost>(FullPath(workerPath));
}

std::string DefaultWorkerPath() {
  return FindWorker(ProgramFolder(), HOSTSWEEP_WORKER_FROM_CONTROLLER, "hostsweep-worker.exe")
      .string();
}

std::filesystem::path VendorRegistryFolder() {
  try {
    return ProgramFolder() / "ieee-data";
  } catch (const SystemError&) {
    return "ieee-data";  // the warning that no registry was found names it
  }
}

// Handles, windows and job objects run out long after -j's most.
// A standard handle is not a number the next handle opened takes: a closed
// one stays closed, and its writes fail.
// Windows gives a console program's missing streams no number another handle
// could take; only a missing standard input is worth telling (-f -).
ClosedStreams HoldClosedStandardStreams() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  return {input == nullptr || input == INVALID_HANDLE_VALUE, false, false};
}

std::size_t MostChainsAtOnce() { return SIZE_MAX; }
std::size_t MostNameSockets() { return kNameSockets; }

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

// Windows grows its neighbour cache as it needs, and an echo request waiting
// for resolution waits inside its own call.
std::size_t NeighbourTableSize() { return 0; }

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

bool WaitForInterruption(std::chrono::milliseconds pause) {
  // Between sweeps no console handler is set: Ctrl-C ends the process at
  // once, which leaves the state file whole since it is only ever replaced.
  ::Sleep(static_cast<DWORD>(pause.count()));
  return false;
}

void ReplaceFileWhole(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::path temporary = path;
  temporary += ".new";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.flush();
    if (!file) {
      throw SystemError("cannot write " + temporary.string());
    }
  }
  if (::MoveFileExW(temporary.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
    throw SystemError("cannot replace " + path.string() + ": " + SystemMessage(::GetLastError()));
  }
}

}  // namespace hostsweep::controller
