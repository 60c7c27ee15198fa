// Finds a message box shown by a process of the given program file, prints its
// caption and text, and presses its OK button.
//
//   press_ok.exe PROGRAM.exe SECONDS
//
// Prints "caption <caption>" and "text <text>" and exits 0, or prints
// "no message box" and exits 1 when none appears within SECONDS.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Message boxes are dialogs of the system's dialog class; their text is the
// static control with the id 0xFFFF.
constexpr int kMessageTextId = 0xFFFF;

struct Search {
  std::string program;
  HWND found = nullptr;
};

std::string ProgramOf(HWND window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (process == nullptr) {
    return "";
  }
  std::array<char, MAX_PATH> path{};
  auto length = static_cast<DWORD>(path.size());
  const bool known = QueryFullProcessImageNameA(process, 0, path.data(), &length) != FALSE;
  CloseHandle(process);
  if (!known) {
    return "";
  }
  const std::string full(path.data(), length);
  return full.substr(full.find_last_of("\\/") + 1);
}

BOOL CALLBACK Inspect(HWND window, LPARAM lParam) {
  // The search travels through EnumWindows as an integer.
  auto& search = *reinterpret_cast<Search*>(lParam);  // NOLINT(performance-no-int-to-ptr)
  std::array<char, 64> className{};
  GetClassNameA(window, className.data(), static_cast<int>(className.size()));
  // Only once it shows is the box's text in place.
  if (std::string(className.data()) == "#32770" && IsWindowVisible(window) != FALSE &&
      lstrcmpiA(ProgramOf(window).c_str(), search.program.c_str()) == 0) {
    search.found = window;
    return FALSE;
  }
  return TRUE;
}

std::string TextOf(HWND window) {
  std::array<char, 1024> text{};
  GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
  return text.data();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: press_ok.exe PROGRAM.exe SECONDS\n");
    return 2;
  }
  // Plain "\n" line ends, whatever reads the output.
  _setmode(_fileno(stdout), _O_BINARY);
  Search search{argv[1]};
  const DWORD deadline = GetTickCount() + static_cast<DWORD>(std::atoi(argv[2])) * 1000;
  while (search.found == nullptr) {
    EnumWindows(Inspect, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) {
      if (static_cast<LONG>(GetTickCount() - deadline) >= 0) {
        std::printf("no message box\n");
        return 1;
      }
      Sleep(50);
    }
  }
  std::printf("caption %s\n", TextOf(search.found).c_str());
  std::printf("text %s\n", TextOf(GetDlgItem(search.found, kMessageTextId)).c_str());
  std::fflush(stdout);
  PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(search.found, IDOK)));
  return 0;
}
