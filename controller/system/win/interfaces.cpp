// The IPv4 networks of the machine's adapters, from GetAdaptersAddresses.
// clang-format off
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
// clang-format on

#include "controller/system/interfaces.h"

#include <algorithm>
#include <vector>

#include "common/win/system_message.h"
#include "controller/base/errors.h"

namespace hostsweep::controller {
namespace {

constexpr ULONG kFirstGuess = 16 * 1024;
constexpr int kAttempts = 3;  // the list may grow between the calls

std::string Utf8(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) {
    return {};
  }
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  utf8.pop_back();
  return utf8;
}

}  // namespace

std::vector<InterfaceNetwork> ReadInterfaceNetworks() {
  constexpr ULONG kFlags =
      GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = kFirstGuess;
  std::vector<unsigned char> buffer;
  ULONG status = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < kAttempts && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    status = ::GetAdaptersAddresses(AF_INET, kFlags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (status == ERROR_NO_DATA) {
    return {};
  }
  if (status != NO_ERROR) {
    throw SystemError("cannot list the network adapters: " + SystemMessage(status));
  }
  std::vector<InterfaceNetwork> networks;
  for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
       adapter != nullptr; adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) {
      continue;
    }
    for (const auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const auto* address = reinterpret_cast<const sockaddr_in*>(unicast->Address.lpSockaddr);
      if (address == nullptr || address->sin_family != AF_INET) {
        continue;
      }
      InterfaceNetwork network{.interfaceName = Utf8(adapter->FriendlyName),
                               .address = ntohl(address->sin_addr.s_addr),
                               .prefixLength = unicast->OnLinkPrefixLength};
      if (adapter->PhysicalAddressLength == MacAddress{}.size()) {
        network.mac.emplace();
        std::copy_n(adapter->PhysicalAddress, network.mac->size(), network.mac->begin());
      }
      networks.push_back(network);
    }
  }
  return networks;
}

}  // namespace hostsweep::controller
