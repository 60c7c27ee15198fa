// What a fuzz target asserts. A broken promise aborts, which libFuzzer reports
// as a crash with the input that caused it, whatever the build type.
#pragma once

#include <cstdlib>

namespace hostsweep::fuzz {

inline void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace hostsweep::fuzz
