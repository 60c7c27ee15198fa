#include "controller/system/event_loop.h"

#include <algorithm>
#include <climits>

namespace hostsweep::controller {
namespace {

// Rounded up, so that a timer is never woken for a moment early and spun on.
int Milliseconds(EventLoop::Clock::duration timeout) {
  if (timeout == EventLoop::Clock::duration::max()) {
    return Poller::kForever;
  }
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
  return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

}  // namespace

short PollEvents(unsigned interest, const PollBits& bits) {
  return static_cast<short>(((interest & kReadable) != 0 ? bits.readable : 0) |
                            ((interest & kWritable) != 0 ? bits.writable : 0));
}

unsigned ReadinessOf(short events, const PollBits& bits) {
  return ((events & bits.readable) != 0 ? kReadable : 0U) |
         ((events & bits.writable) != 0 ? kWritable : 0U) |
         ((events & bits.failed) != 0 ? kFailed : 0U);
}

EventLoop::EventLoop(std::unique_ptr<Poller> poller) : poller_(std::move(poller)) {}

EventLoop::TimerId EventLoop::At(Clock::time_point when, TimerCallback callback) {
  const TimerId id = nextTimer_++;
  timers_.push({when, id});
  pending_.emplace(id, std::move(callback));
  return id;
}

void EventLoop::Cancel(TimerId timer) { pending_.erase(timer); }

void EventLoop::Watch(Descriptor descriptor, unsigned interest, WatchCallback callback) {
  watches_[descriptor] = {interest, nextGeneration_++,
                          std::make_shared<WatchCallback>(std::move(callback))};
}

void EventLoop::Unwatch(Descriptor descriptor) { watches_.erase(descriptor); }

EventLoop::Clock::duration EventLoop::TimeToNextTimer(Clock::duration most) {
  // Cancelled timers leave the heap lazily, here.
  while (!timers_.empty() && !pending_.contains(timers_.top().id)) {
    timers_.pop();
  }
  if (timers_.empty()) {
    return most;
  }
  return std::clamp(timers_.top().when - Now(), Clock::duration::zero(), most);
}

void EventLoop::RunOnce(Clock::duration most) {
  entries_.clear();
  generations_.clear();
  for (const auto& [descriptor, watch] : watches_) {
    entries_.push_back({descriptor, watch.interest, 0});
    generations_.push_back(watch.generation);
  }
  poller_->Wait(entries_, Milliseconds(TimeToNextTimer(most)));
  ++turn_;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].ready == 0) {
      continue;
    }
    // A callback before this one may have removed or replaced the watch:
    // what the wait found belongs to the watch it was made for.
    const auto watch = watches_.find(entries_[i].descriptor);
    if (watch == watches_.end() || watch->second.generation != generations_[i]) {
      continue;
    }
    const auto callback = watch->second.callback;  // outlives an Unwatch inside it
    (*callback)(entries_[i].ready);
  }
  RunDueTimers();
}

void EventLoop::RunDueTimers() {
  // Timers the callbacks add wait for the next turn, even when due at once.
  const auto now = Now();
  const TimerId last = nextTimer_;
  while (!timers_.empty() && timers_.top().when <= now && timers_.top().id < last) {
    const TimerId id = timers_.top().id;
    timers_.pop();
    const auto timer = pending_.find(id);
    if (timer == pending_.end()) {
      continue;
    }
    const TimerCallback callback = std::move(timer->second);
    pending_.erase(timer);
    callback();
  }
}

void EventLoop::Run() {
  while (!stopped_) {
    RunOnce();
  }
  stopped_ = false;
}

}  // namespace hostsweep::controller
