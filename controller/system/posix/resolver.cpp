// Each lookup on a thread of its own, a bounded number at once. The threads
// are detached and share their answers' box with the resolver, so that a
// sweep cut short never waits for a DNS server's time-out; each answer wakes
// the sweep's loop.
#include "controller/system/resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "controller/system/posix/loop_wake.h"

namespace hostsweep::controller {
namespace {

// Enough for a sweep's silent hosts not to wait behind one slow server each.
constexpr std::size_t kMostLookupsAtOnce = 16;

std::string ReverseName(Address address) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = htonl(address);
  std::array<char, NI_MAXHOST> name{};
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, name.data(), name.size(),
                  nullptr, 0, NI_NAMEREQD) != 0) {
    return {};
  }
  return name.data();
}

struct AnswerBox {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Resolver::Answer> answers;
  std::function<void()> wakeLoop;
};

class ThreadedResolver : public Resolver {
 public:
  explicit ThreadedResolver(EventLoop& loop) : wake_(loop, [] {}) {
    box_->wakeLoop = wake_.Raiser();
  }
  void Ask(std::size_t tag, Address address) override {
    queued_.emplace_back(tag, address);
    ++unanswered_;
    StartQueued();
  }
  [[nodiscard]] bool Busy() const override { return unanswered_ > 0; }
  std::vector<Answer> Take(std::chrono::milliseconds timeout) override {
    std::vector<Answer> answers;
    {
      std::unique_lock lock(box_->mutex);
      box_->arrived.wait_for(lock, timeout, [this] { return !box_->answers.empty(); });
      answers.swap(box_->answers);
    }
    running_ -= answers.size();
    unanswered_ -= answers.size();
    StartQueued();
    return answers;
  }

 private:
  void StartQueued() {
    while (running_ < kMostLookupsAtOnce && !queued_.empty()) {
      const auto [tag, address] = queued_.front();
      queued_.pop_front();
      ++running_;
      try {
        std::thread([box = box_, tag = tag, address = address] {
          Answer answer{tag, ReverseName(address)};
          const std::lock_guard lock(box->mutex);
          box->answers.push_back(std::move(answer));
          box->arrived.notify_one();
          box->wakeLoop();
        }).detach();
      } catch (const std::system_error&) {
        // No thread to spare (the user's process limit): no name, not no sweep.
        const std::lock_guard lock(box_->mutex);
        box_->answers.emplace_back(tag, std::string{});
        box_->wakeLoop();
      }
    }
  }

  // The loop's turn ending is all a raise is for: the sweep then takes the answers.
  LoopWake wake_;
  std::shared_ptr<AnswerBox> box_ = std::make_shared<AnswerBox>();
  std::deque<std::pair<std::size_t, Address>> queued_;
  std::size_t running_ = 0;
  std::size_t unanswered_ = 0;
};

}  // namespace

std::unique_ptr<Resolver> MakeResolver(EventLoop& loop) {
  return std::make_unique<ThreadedResolver>(loop);
}

}  // namespace hostsweep::controller
