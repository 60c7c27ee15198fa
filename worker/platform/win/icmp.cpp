// ICMP helper functions, from icmp.dll.
#include "platform/os.h"
#include "platform/win/library_function.h"

namespace hostsweep::os {
namespace {

constexpr const char* kIcmpLibrary = "icmp.dll";

}  // namespace

HANDLE IcmpCreateFile() {
  static auto* const create =
      LibraryFunction<decltype(::IcmpCreateFile)>(kIcmpLibrary, "IcmpCreateFile");
  return create();
}

BOOL IcmpCloseHandle(HANDLE icmp) {
  static auto* const close =
      LibraryFunction<decltype(::IcmpCloseHandle)>(kIcmpLibrary, "IcmpCloseHandle");
  return close(icmp);
}

DWORD IcmpSendEcho(HANDLE icmp, IPAddr destination, LPVOID requestData, WORD requestSize,
                   IP_OPTION_INFORMATION* requestOptions, LPVOID replyBuffer, DWORD replySize,
                   DWORD timeout) {
  static auto* const send = LibraryFunction<decltype(::IcmpSendEcho)>(kIcmpLibrary, "IcmpSendEcho");
  return send(icmp, destination, requestData, requestSize, requestOptions, replyBuffer, replySize,
              timeout);
}

}  // namespace hostsweep::os
