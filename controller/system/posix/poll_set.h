// The descriptors one wait watches, and what happened to each.
#pragma once

#include <poll.h>

#include <chrono>
#include <unordered_map>
#include <vector>

namespace hostsweep::controller {

class PollSet {
 public:
  void Add(int fd) {
    index_[fd] = entries_.size();
    entries_.push_back({fd, POLLIN, 0});
  }
  // Waits for input on any descriptor, at most `timeout`; false on EINTR.
  bool Wait(std::chrono::milliseconds timeout) {
    return poll(entries_.data(), entries_.size(), static_cast<int>(timeout.count())) >= 0;
  }
  // POLLIN, POLLHUP, ... for `fd`; 0 for a descriptor not in the set.
  [[nodiscard]] short Events(int fd) const {
    const auto entry = index_.find(fd);
    return entry == index_.end() ? short{0} : entries_[entry->second].revents;
  }

 private:
  std::vector<pollfd> entries_;
  std::unordered_map<int, std::size_t> index_;
};

}  // namespace hostsweep::controller
