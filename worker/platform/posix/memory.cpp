// kernel32's heap, copy and string helpers, and the last-error value.
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/failure.h"
#include "platform/os.h"
#include "platform/posix/last_error.h"

namespace hostsweep::os {
namespace {

thread_local DWORD lastError = 0;

// There is one heap, the C library's; the handle only has to be non-null.
int processHeap = 0;

}  // namespace

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD error) { lastError = error; }

HANDLE GetProcessHeap() { return &processHeap; }

LPVOID HeapAlloc(HANDLE /*heap*/, DWORD flags, SIZE_T bytes) {
  // Always zeroed: the flags the worker passes ask for it, and zeroed memory is
  // never a wrong answer.
  LPVOID block = std::calloc(1, bytes);
  // Asked to, a heap that cannot give the block raises the failure instead of
  // returning nothing.
  if (block == nullptr && (flags & HEAP_GENERATE_EXCEPTIONS) != 0) {
    throw Failure("cannot allocate " + std::to_string(bytes) + " bytes from the heap");
  }
  return block;
}

BOOL HeapFree(HANDLE /*heap*/, DWORD /*flags*/, LPVOID block) {
  std::free(block);
  return 1;
}

void RtlMoveMemory(void* destination, const void* source, SIZE_T length) {
  std::memmove(destination, source, length);
}

int lstrlenA(const char* text) { return text == nullptr ? 0 : static_cast<int>(std::strlen(text)); }

}  // namespace hostsweep::os
