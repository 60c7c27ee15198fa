// Process services: argument text, yield, failure message, own program file,
// and starting a successor.
#include <string>

#include "common/command_text.h"
#include "common/failure.h"
#include "common/win/system_message.h"
#include "platform/os.h"

namespace hostsweep::os {
namespace {

ProgramPath OwnProgramPath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      throw Failure("cannot find the worker's own program file: " +
                    SystemMessage(::GetLastError()));
    }
    // A path that fills the buffer may have been cut short.
    if (length < path.size()) {
      path.resize(length);
      return SplitProgramPath(path);
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

std::string GetArgumentText() { return std::string(ArgumentTextOf(::GetCommandLineA())); }

void YieldToSystem() {
  MSG message{};
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  ::Sleep(0);
}

void ShowFailureBox(const std::string& description) {
  // The program's name tells the user who is complaining; should even that be
  // out of reach, the system's default title will do.
  std::string title;
  try {
    title = OwnProgramPath().name;
  } catch (const Failure&) {
    title.clear();
  }
  ::MessageBoxA(nullptr, description.c_str(), title.empty() ? nullptr : title.c_str(), MB_OK);
}

void EndProcess(int exitStatus) { ::ExitProcess(static_cast<UINT>(exitStatus)); }

std::string GetProgramFolder() { return OwnProgramPath().folder; }

std::string GetProgramName() { return OwnProgramPath().name; }

void StartHiddenProcess(const std::string& folder, const std::string& name,
                        const std::string& arguments) {
  std::string command = ProgramCommandText(folder, name, arguments);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  if (::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process) == FALSE) {
    throw Failure("cannot start the successor worker " + command + ": " +
                  SystemMessage(::GetLastError()));
  }
  // Nobody waits for the successor; its handles are of no further use here.
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
}

}  // namespace hostsweep::os
