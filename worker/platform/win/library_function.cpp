#include "platform/win/library_function.h"

#include <string>

#include "common/failure.h"
#include "common/win/system_message.h"

namespace hostsweep::os {

FARPROC FindLibraryFunction(const char* library, const char* name) {
  // Loaded once and kept: the worker is short-lived and asks again soon.
  HMODULE module = ::GetModuleHandleA(library);
  if (module == nullptr) {
    module = ::LoadLibraryA(library);
  }
  if (module == nullptr) {
    throw Failure(std::string("cannot load ") + library + ": " + SystemMessage(::GetLastError()));
  }
  const FARPROC function = ::GetProcAddress(module, name);
  if (function == nullptr) {
    throw Failure(std::string("cannot find ") + name + " in " + library + ": " +
                  SystemMessage(::GetLastError()));
  }
  return function;
}

}  // namespace hostsweep::os
