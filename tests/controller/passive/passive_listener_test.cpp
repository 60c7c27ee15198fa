// The listener under a flood: however many frames wait, it reads at most
// kMostFramesPerInterval an interval, and leaves the rest to the kernel.
#include "controller/passive/passive_listener.h"

#include <gtest/gtest.h>

#include <deque>

#include "controller/link/arp_frame.h"
#include "tests/case_name.h"
#include "tests/controller/system/fake_poller.h"

namespace hostsweep::controller {
namespace {

constexpr Descriptor kSocket = 7;

class QueuedFrames : public PassiveSocket {
 public:
  explicit QueuedFrames(std::size_t count) {
    const auto frame = EncodeArpFrame({.senderMac = {0, 0x1a, 0x2b, 0, 0, 1},
                                       .senderAddress = 0x0ad50cc9,
                                       .targetAddress = 0x0ad50cc9},
                                      kBroadcastMac);
    frames.assign(count, frame);
  }
  [[nodiscard]] Descriptor Handle() const override { return kSocket; }
  std::optional<std::vector<std::uint8_t>> Receive() override {
    if (frames.empty()) {
      return std::nullopt;
    }
    auto frame = std::move(frames.front());
    frames.pop_front();
    return frame;
  }
  std::deque<std::vector<std::uint8_t>> frames;
};

struct FloodCase {
  const char* what;
  std::size_t waiting;
  int intervals;  // listened for
  std::size_t read;
};

void PrintTo(const FloodCase& c, std::ostream* os) { *os << c.what; }

class Flooded : public ::testing::TestWithParam<FloodCase> {};

TEST_P(Flooded, ReadsNoMoreThanTheAllowanceEachInterval) {
  const FloodCase& c = GetParam();
  auto* poller = new FakePoller;
  EventLoop loop{std::unique_ptr<Poller>(poller)};
  QueuedFrames socket(c.waiting);
  poller->onWait = [&](std::span<PollEntry> entries, std::chrono::milliseconds timeout) {
    bool ready = false;
    for (PollEntry& entry : entries) {
      if (entry.descriptor == kSocket && !socket.frames.empty()) {
        entry.ready = kReadable;
        ready = true;
      }
    }
    if (!ready) {
      poller->now += timeout;
    }
  };
  std::size_t heard = 0;
  const auto end = poller->now + c.intervals * kFrameInterval - std::chrono::milliseconds(1);
  {
    const PassiveListener listener(loop, socket, [&](const Sighting&) { ++heard; });
    while (poller->now < end) {
      loop.RunOnce(end - poller->now);
    }
    EXPECT_EQ(listener.FramesRead(), c.read);
  }
  EXPECT_EQ(heard, c.read);
  EXPECT_EQ(socket.frames.size(), c.waiting - c.read);
}

INSTANTIATE_TEST_SUITE_P(Passive, Flooded,
                         ::testing::Values(FloodCase{"a few frames", 10, 1, 10},
                                           FloodCase{"a flood, one interval", 100'000, 1,
                                                     kMostFramesPerInterval},
                                           FloodCase{"a flood, three intervals", 100'000, 3,
                                                     3 * kMostFramesPerInterval}),
                         [](const auto& info) { return testing::CaseName(info.param.what); });

}  // namespace
}  // namespace hostsweep::controller
