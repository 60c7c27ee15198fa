// kernel32's heap, copy and string helpers, and the last-error value.
#include <cstring>

#include "platform/os.h"

namespace hostsweep::os {

DWORD GetLastError() { return ::GetLastError(); }

HANDLE GetProcessHeap() { return ::GetProcessHeap(); }

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) { return ::HeapAlloc(heap, flags, bytes); }

BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block) { return ::HeapFree(heap, flags, block); }

// The system's headers make RtlMoveMemory this very call.
void RtlMoveMemory(void* destination, const void* source, SIZE_T length) {
  std::memmove(destination, source, length);
}

int lstrlenA(const char* text) { return ::lstrlenA(text); }

}  // namespace hostsweep::os
