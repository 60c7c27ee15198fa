#include "controller/system/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>

#include "common/posix/file_descriptor.h"
#include "controller/base/errors.h"

namespace hostsweep::controller {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kShortOfDescriptors{100};

FileDescriptor Listen(const std::string& host, std::uint16_t port) {
  sockaddr_storage address{};
  socklen_t size = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    size = sizeof *v4;
  } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    size = sizeof *v6;
  } else {
    throw UsageError("\"" + host + "\" is not an IPv4 or IPv6 address");
  }
  FileDescriptor listener(socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  // A restarted watch takes its port back at once, though the last one's
  // connections linger in TIME_WAIT; a port another program listens on
  // stays taken.
  const int on = 1;
  if (!listener.Valid() ||
      setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
      listen(listener.Get(), SOMAXCONN) != 0) {
    const std::string why = std::strerror(errno);
    const bool v6Host = address.ss_family == AF_INET6;
    throw SystemError("cannot listen on " + (v6Host ? "[" + host + "]" : host) + ":" +
                      std::to_string(port) + ": " + why);
  }
  return listener;
}

class PosixHttpServer : public HttpServer {
 public:
  PosixHttpServer(FileDescriptor listener, HttpAnswer answer)
      : listener_(std::move(listener)),
        stop_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
        answer_(std::move(answer)) {
    if (!stop_.Valid()) {
      throw SystemError(std::string("cannot serve HTTP: ") + std::strerror(errno));
    }
    // The thread starts with every signal blocked: the interruptions stay
    // for the main thread, which waits for them, and a client that hangs up
    // costs no SIGPIPE.
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    try {
      thread_ = std::thread([this] { Serve(); });
    } catch (const std::system_error& error) {
      pthread_sigmask(SIG_SETMASK, &before, nullptr);
      throw SystemError(std::string("cannot serve HTTP: ") + error.what());
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }
  PosixHttpServer(const PosixHttpServer&) = delete;
  PosixHttpServer& operator=(const PosixHttpServer&) = delete;
  PosixHttpServer(PosixHttpServer&&) = delete;
  PosixHttpServer& operator=(PosixHttpServer&&) = delete;

  ~PosixHttpServer() override {
    const std::uint64_t one = 1;
    while (write(stop_.Get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
  }

  void Publish(std::string page) override {
    const std::scoped_lock lock(mutex_);
    page_ = std::move(page);
  }

 private:
  // False when the deadline passed or the server is stopping first.
  [[nodiscard]] bool WaitFor(int fd, short events, Clock::time_point deadline) const {
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        return false;
      }
      std::array<pollfd, 2> waits{{{fd, events, 0}, {stop_.Get(), POLLIN, 0}}};
      const int timeout = deadline == Clock::time_point::max()
                              ? -1
                              : static_cast<int>(std::min<long long>(left, INT_MAX));
      const int ready = poll(waits.data(), waits.size(), timeout);
      if (ready < 0 && errno != EINTR) {
        return false;
      }
      if (waits[1].revents != 0) {
        return false;
      }
      if (waits[0].revents != 0) {
        return true;
      }
    }
  }

  void Serve() {
    for (;;) {
      if (!WaitFor(listener_.Get(), POLLIN, Clock::time_point::max())) {
        return;
      }
      const FileDescriptor connection(
          accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
      if (connection.Valid()) {
        Answer(connection.Get());
      } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The connection waits in the backlog; polling again at once would
        // spin until a descriptor is free.
        std::this_thread::sleep_for(kShortOfDescriptors);
      }
    }
  }

  void Answer(int fd) {
    std::string request;
    std::array<char, 1024> buffer{};
    const auto requestEnd = Clock::now() + kRequestTime;
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMostRequestBytes) {
      if (!WaitFor(fd, POLLIN, requestEnd)) {
        return;
      }
      const ssize_t size =
          recv(fd, buffer.data(), std::min(buffer.size(), kMostRequestBytes - request.size()), 0);
      if (size == 0) {
        break;  // the client has said all it will
      }
      if (size < 0) {
        if (errno == EAGAIN || errno == EINTR) {
          continue;
        }
        return;
      }
      request.append(buffer.data(), static_cast<std::size_t>(size));
    }
    std::string response;
    {
      const std::scoped_lock lock(mutex_);
      response = answer_(request, page_);
    }
    std::string_view rest = response;
    const auto answerEnd = Clock::now() + kAnswerTime;
    while (!rest.empty()) {
      if (!WaitFor(fd, POLLOUT, answerEnd)) {
        return;
      }
      const ssize_t size = send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
      if (size < 0 && errno != EAGAIN && errno != EINTR) {
        return;
      }
      rest.remove_prefix(size < 0 ? 0 : static_cast<std::size_t>(size));
    }
    // Closing with bytes of the client's unread would reset the connection,
    // which may cost the client the answer: read them until it closes too.
    shutdown(fd, SHUT_WR);
    while (WaitFor(fd, POLLIN, answerEnd) && recv(fd, buffer.data(), buffer.size(), 0) > 0) {
    }
  }

  FileDescriptor listener_;
  FileDescriptor stop_;
  HttpAnswer answer_;
  std::mutex mutex_;
  std::string page_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<HttpServer> ServeHttp(const std::string& host, std::uint16_t port,
                                      HttpAnswer answer) {
  return std::make_unique<PosixHttpServer>(Listen(host, port), std::move(answer));
}

}  // namespace hostsweep::controller
