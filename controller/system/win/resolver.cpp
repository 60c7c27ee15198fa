// Each lookup made as it is asked for: the cross build's C++ library has no
// threads, so a slow server holds up the sweep's loop meanwhile, as it would
// hold up a worker. A timer due at once ends the loop's next turn for the
// sweep to take the answer.
#include "controller/system/resolver.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <array>
#include <string>
#include <utility>

#include "controller/system/win/winsock_session.h"

namespace hostsweep::controller {
namespace {

class BlockingResolver : public Resolver {
 public:
  explicit BlockingResolver(EventLoop& loop) : loop_(loop) {}
  void Ask(std::size_t tag, Address address) override {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = ::htonl(address);
    std::array<char, NI_MAXHOST> name{};
    const bool named =
        ::getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, name.data(),
                      static_cast<DWORD>(name.size()), nullptr, 0, NI_NAMEREQD) == 0;
    answers_.emplace_back(tag, named ? std::string(name.data()) : std::string{});
    loop_.After(EventLoop::Clock::duration::zero(), [] {});
  }
  [[nodiscard]] bool Busy() const override { return !answers_.empty(); }
  std::vector<Answer> Take(std::chrono::milliseconds /*timeout*/) override {
    return std::exchange(answers_, {});
  }

 private:
  EventLoop& loop_;
  WinsockSession winsock_;
  std::vector<Answer> answers_;
};

}  // namespace

std::unique_ptr<Resolver> MakeResolver(EventLoop& loop) {
  return std::make_unique<BlockingResolver>(loop);
}

}  // namespace hostsweep::controller
