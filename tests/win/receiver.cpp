// Stands in for the controller window: a message-only window that prints every
// copy-data message it receives.
//
//   receiver.exe REPORTS SECONDS
//
// Prints "window <handle>" (decimal) first, then one line per WM_COPYDATA:
// "report <dwData> <cbData> <payload bytes in hex>", and "done" when REPORTS
// messages have arrived or "timeout" when SECONDS have passed first.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

int reportsWanted = 0;
int reportsSeen = 0;

void PrintReport(const COPYDATASTRUCT& packet) {
  std::printf("report %llu %lu ", static_cast<unsigned long long>(packet.dwData),
              static_cast<unsigned long>(packet.cbData));
  const auto* bytes = static_cast<const unsigned char*>(packet.lpData);
  for (DWORD i = 0; bytes != nullptr && i < packet.cbData; ++i) {
    std::printf("%02x", bytes[i]);
  }
  std::printf("\n");
  std::fflush(stdout);
}

LRESULT CALLBACK ReceiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    // WM_COPYDATA carries the packet's address as an integer.
    PrintReport(
        *reinterpret_cast<const COPYDATASTRUCT*>(lParam));  // NOLINT(performance-no-int-to-ptr)
    if (++reportsSeen >= reportsWanted) {
      std::printf("done\n");
      std::fflush(stdout);
      PostQuitMessage(0);
    }
    return TRUE;
  }
  if (message == WM_TIMER) {
    std::printf("timeout\n");
    std::fflush(stdout);
    PostQuitMessage(1);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: receiver.exe REPORTS SECONDS\n");
    return 2;
  }
  // Plain "\n" line ends, whatever reads the output.
  _setmode(_fileno(stdout), _O_BINARY);
  reportsWanted = std::atoi(argv[1]);
  const UINT seconds = static_cast<UINT>(std::atoi(argv[2]));

  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = ReceiverProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "hostsweep-test-receiver";
  if (RegisterClassA(&windowClass) == 0) {
    std::fprintf(stderr, "receiver: RegisterClass failed: %lu\n", GetLastError());
    return 2;
  }
  HWND window = CreateWindowExA(0, windowClass.lpszClassName, "receiver", 0, 0, 0, 0, 0,
                                HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) {
    std::fprintf(stderr, "receiver: CreateWindowEx failed: %lu\n", GetLastError());
    return 2;
  }
  // The worker reads the handle back as a 32-bit number; that is all a window
  // handle carries on 64-bit Windows too.
  std::printf(
      "window %ld\n",
      static_cast<long>(static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(window))));
  std::fflush(stdout);
  if (reportsWanted <= 0) {
    return 0;
  }
  SetTimer(window, 1, seconds * 1000, nullptr);

  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
