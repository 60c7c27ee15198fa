// Window messages: only WM_COPYDATA, delivered over the report socket.
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <span>

#include "common/posix/file_descriptor.h"
#include "common/posix/report_socket.h"
#include "platform/os.h"

namespace hostsweep::os {

LRESULT SendMessageA(HWND window, UINT message, WPARAM /*wParam*/, LPARAM lParam) {
  if (message != WM_COPYDATA || lParam == 0) {
    return 0;
  }
  // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_COPYDATA carries its record's address
  const auto& packet = *reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  const auto handle = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(window));
  const FileDescriptor socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!socket.Valid()) {
    return 0;
  }
  const auto address = report_socket::AddressOf(handle);
  LRESULT handled = 0;
  // Like a message to a window that does not exist, a report for a receiver
  // that is not there, or belongs to another user, goes nowhere.
  if (connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address.name), address.length) ==
          0 &&
      report_socket::PeerIsSameUser(socket.Get())) {
    const auto bytes = report_socket::Encode(
        static_cast<std::uint32_t>(packet.dwData),
        std::span(static_cast<const unsigned char*>(packet.lpData), packet.cbData));
    if (send(socket.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(bytes.size())) {
      // Returns, as a sent message does, once the receiver has handled it.
      unsigned char acknowledgement = 0;
      ssize_t received = 0;
      do {
        received = recv(socket.Get(), &acknowledgement, 1, 0);
      } while (received < 0 && errno == EINTR);
      handled = received == 1 ? 1 : 0;
    }
  }
  return handled;
}

}  // namespace hostsweep::os
