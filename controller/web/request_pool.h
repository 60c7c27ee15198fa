// The threads that answer the dashboard's connections: a few, and a bounded
// queue of connections waiting for one. A connection beyond it is answered
// at once, on the listener's thread, as Refused() tells the handlers:
// whatever the number of clients, threads and memory stay bounded.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace hostsweep::controller {

class RequestPool : public httplib::TaskQueue {
 public:
  RequestPool(std::size_t threads, std::size_t waiting);
  ~RequestPool() override;
  RequestPool(const RequestPool&) = delete;
  RequestPool& operator=(const RequestPool&) = delete;
  RequestPool(RequestPool&&) = delete;
  RequestPool& operator=(RequestPool&&) = delete;

  void enqueue(std::function<void()> connection) override;
  void shutdown() override;

  // Whether the connection being answered on this thread is one too many.
  static bool Refused();

 private:
  void Answer();

  std::size_t waiting_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace hostsweep::controller
