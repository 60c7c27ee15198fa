// NetBIOS, from netapi32.dll.
#include "platform/os.h"
#include "platform/win/library_function.h"

namespace hostsweep::os {

UCHAR Netbios(NCB* control) {
  static auto* const netbios = LibraryFunction<decltype(::Netbios)>("netapi32.dll", "Netbios");
  return netbios(control);
}

}  // namespace hostsweep::os
