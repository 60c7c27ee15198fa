// Window messages, from user32.
#include "platform/os.h"

namespace hostsweep::os {

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageA(window, message, wParam, lParam);
}

}  // namespace hostsweep::os
