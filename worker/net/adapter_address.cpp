#include "net/adapter_address.h"

#include <algorithm>

#include "common/failure.h"

namespace hostsweep {
namespace {

// Hands the status buffer back to the heap on every way out of a query.
class HeapBlock {
 public:
  HeapBlock(os::HANDLE heap, os::LPVOID block) : heap_(heap), block_(block) {}
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;
  ~HeapBlock() { os::HeapFree(heap_, 0, block_); }
  [[nodiscard]] os::UCHAR* bytes() const { return static_cast<os::UCHAR*>(block_); }

 private:
  os::HANDLE heap_;
  os::LPVOID block_;
};

}  // namespace

std::array<os::UCHAR, os::NCBNAMSZ> CallName(const std::string& text) {
  std::array<os::UCHAR, os::NCBNAMSZ> name{};
  name.fill(' ');
  std::string withZero = text;
  withZero.push_back('\0');
  std::copy_n(withZero.begin(), std::min(withZero.size(), name.size()), name.begin());
  return name;
}

std::string FormatAdapterAddress(const os::UCHAR (&bytes)[6]) {
  constexpr const char* kDigits = "0123456789ABCDEF";
  std::string text;
  for (const os::UCHAR byte : bytes) {
    if (!text.empty()) {
      text += '-';
    }
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::string QueryAdapterAddress(const std::string& address) {
  try {
    os::NCB control{};
    control.ncb_command = os::NCBRESET;
    os::Netbios(&control);

    control.ncb_command = os::NCBASTAT;
    control.ncb_lana_num = 0;
    const auto callName = CallName(address);
    std::copy(callName.begin(), callName.end(), control.ncb_callname);
    control.ncb_length = kAdapterStatusSize;

    const os::HANDLE heap = os::GetProcessHeap();
    const os::LPVOID block = os::HeapAlloc(
        heap, os::HEAP_ZERO_MEMORY | os::HEAP_GENERATE_EXCEPTIONS, control.ncb_length);
    if (block == nullptr) {
      return {};
    }
    const HeapBlock buffer(heap, block);
    control.ncb_buffer = buffer.bytes();
    if (os::Netbios(&control) != os::NRC_GOODRET) {
      return {};
    }
    AdapterStatus status{};
    os::RtlMoveMemory(&status, control.ncb_buffer, sizeof status);
    return FormatAdapterAddress(status.adapter.adapter_address);
  } catch (const Failure&) {
    return {};
  }
}

}  // namespace hostsweep
