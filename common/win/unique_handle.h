// A kernel object handle closed when it goes out of scope.
#pragma once

#include <windows.h>

#include <memory>

namespace hostsweep {

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};

// HANDLE is a pointer type, so unique_ptr holds it directly; null means none.
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

}  // namespace hostsweep
