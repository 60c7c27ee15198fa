#include "common/win/system_message.h"

#include <array>

namespace hostsweep {

std::string SystemMessage(DWORD error) {
  std::array<char, 512> text{};
  DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text.data(), static_cast<DWORD>(text.size()), nullptr);
  // The system's texts end in a full stop and a line break.
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    --length;
  }
  const std::string code = "error " + std::to_string(error);
  return length == 0 ? code : std::string(text.data(), length) + " (" + code + ")";
}

}  // namespace hostsweep
