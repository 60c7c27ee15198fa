// The watch's ear between sweeps (and during them): the passive socket
// watched by the controller's one event loop, each frame decoded and handed
// on as it comes. However fast frames come, at most kMostFramesPerInterval
// are read an interval; past that the socket is left unwatched until the
// next, and the kernel drops what its small queue cannot hold.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>

#include "controller/passive/passive_socket.h"
#include "controller/passive/sighting.h"
#include "controller/system/event_loop.h"

namespace hostsweep::controller {

inline constexpr std::size_t kMostFramesPerInterval = 200;
inline constexpr std::chrono::milliseconds kFrameInterval{100};

// How many frames may still be read this interval.
class FrameAllowance {
 public:
  using Clock = EventLoop::Clock;
  FrameAllowance(std::size_t most, Clock::duration interval) : most_(most), interval_(interval) {}
  // One frame at `now`: false once this interval's are used up.
  bool Take(Clock::time_point now);
  // When the next interval begins.
  [[nodiscard]] Clock::time_point NextInterval() const { return began_ + interval_; }

 private:
  std::size_t most_;
  Clock::duration interval_;
  Clock::time_point began_{};
  std::size_t taken_ = 0;
};

class PassiveListener {
 public:
  using Heard = std::function<void(const Sighting&)>;
  // Listens from now until destroyed.
  PassiveListener(EventLoop& loop, PassiveSocket& socket, Heard heard);
  ~PassiveListener();
  PassiveListener(const PassiveListener&) = delete;
  PassiveListener& operator=(const PassiveListener&) = delete;

  // Frames read, and frames left to the kernel once the allowance was used up
  // (counted once an interval: the first that waited).
  [[nodiscard]] std::size_t FramesRead() const { return read_; }
  [[nodiscard]] std::size_t Pauses() const { return pauses_; }

 private:
  void Listen();
  void Read();

  EventLoop& loop_;
  PassiveSocket& socket_;
  Heard heard_;
  FrameAllowance allowance_{kMostFramesPerInterval, kFrameInterval};
  std::optional<EventLoop::TimerId> resume_;
  std::size_t read_ = 0;
  std::size_t pauses_ = 0;
};

}  // namespace hostsweep::controller
