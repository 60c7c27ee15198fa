// Functions of system libraries that are looked up when first called, so that a
// missing library or entry point is a Failure of the one operation that needs
// it, handled by that operation's policy, instead of a program that cannot start.
#pragma once

#include "platform/os.h"

namespace hostsweep::os {

// The address of `name` in `library`, loading the library if it is not loaded
// yet. Raises a Failure naming both when either cannot be found.
FARPROC FindLibraryFunction(const char* library, const char* name);

// `Function` is the function's type as the system headers declare it, e.g.
// LibraryFunction<decltype(::Netbios)>("netapi32.dll", "Netbios").
template <typename Function>
Function* LibraryFunction(const char* library, const char* name) {
  // Through the generic function pointer type, which converts to any other.
  using AnyFunction = void (*)();
  return reinterpret_cast<Function*>(
      reinterpret_cast<AnyFunction>(FindLibraryFunction(library, name)));
}

}  // namespace hostsweep::os
