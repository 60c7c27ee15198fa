#include "driver/report_channel.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "common/failure.h"
#include "common/request_line.h"
#include "platform/os.h"

namespace hostsweep {
namespace {

// One buffer serves every report of the run.
std::array<char, kPayloadBufferSize> payload{};

}  // namespace

std::string FitName(const std::string& name, std::size_t otherLength) {
  constexpr std::size_t kMostText = kPayloadBufferSize - 1;
  if (otherLength + name.size() <= kMostText || otherLength >= kMostText) {
    return name;
  }
  return name.substr(0, kMostText - otherLength - 1) + "~";
}

void SendReport(const std::string& replyWindowField, const std::string& text) {
  if (text.size() >= kPayloadBufferSize) {
    throw Failure("the report \"" + text.substr(0, 40) + "...\" is " + std::to_string(text.size()) +
                  " characters long; at most " + std::to_string(kPayloadBufferSize - 1) + " fit");
  }
  std::memcpy(payload.data(), text.data(), text.size());
  payload[text.size()] = '\0';

  os::COPYDATASTRUCT packet{};
  packet.dwData = kReportTag;
  packet.cbData = static_cast<os::DWORD>(text.size() + 1);
  packet.lpData = payload.data();

  const std::intptr_t handle = ReplyWindowHandle(replyWindowField);
  // NOLINTNEXTLINE(performance-no-int-to-ptr): a window handle travels as a number
  os::SendMessageA(reinterpret_cast<os::HWND>(handle), os::WM_COPYDATA, 0,
                   reinterpret_cast<os::LPARAM>(&packet));
}

}  // namespace hostsweep
