#include "controller/web/request_pool.h"

namespace hostsweep::controller {
namespace {

thread_local bool refusing = false;

}  // namespace

RequestPool::RequestPool(std::size_t threads, std::size_t waiting) : waiting_(waiting) {
  for (std::size_t i = 0; i < threads; ++i) {
    threads_.emplace_back([this] { Answer(); });
  }
}

RequestPool::~RequestPool() { RequestPool::shutdown(); }

void RequestPool::enqueue(std::function<void()> connection) {
  {
    const std::scoped_lock lock(mutex_);
    if (queue_.size() < waiting_) {
      queue_.push_back(std::move(connection));
      ready_.notify_one();
      return;
    }
  }
  refusing = true;
  connection();
  refusing = false;
}

void RequestPool::shutdown() {
  {
    const std::scoped_lock lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) {
      thread.join();
    }
  }
}

bool RequestPool::Refused() { return refusing; }

void RequestPool::Answer() {
  for (;;) {
    std::function<void()> connection;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) {
        return;
      }
      connection = std::move(queue_.front());
      queue_.pop_front();
    }
    connection();
  }
}

}  // namespace hostsweep::controller
