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
#include <vector>

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
  enum class Phase { kReading, kWriting, kDraining };

  // One client's connection, as far as it has got. Its memory is bounded:
  // the request by kMostRequestBytes, the answer by the page.
  struct Connection {
    FileDescriptor fd;
    Clock::time_point deadline;
    Phase phase = Phase::kReading;
    std::string request{};
    std::string response{};
    std::size_t sent = 0;
  };

  // Every connection in one poll loop, so that no client, however slow or
  // idle, keeps another waiting.
  void Serve() {
    std::vector<Connection> connections;  // the oldest first
    std::vector<pollfd> waits;
    Clock::time_point listenAgain{};
    for (;;) {
      const auto now = Clock::now();
      std::erase_if(connections, [now](const Connection& each) {
        return !each.fd.Valid() || each.deadline <= now;
      });
      waits.clear();
      waits.push_back({stop_.Get(), POLLIN, 0});
      waits.push_back({now >= listenAgain ? listener_.Get() : -1, POLLIN, 0});
      auto wake = now >= listenAgain ? Clock::time_point::max() : listenAgain;
      for (const Connection& each : connections) {
        const short wanted = each.phase == Phase::kWriting ? POLLOUT : POLLIN;
        waits.push_back({each.fd.Get(), wanted, 0});
        wake = std::min(wake, each.deadline);
      }
      const int timeout =
          wake == Clock::time_point::max()
              ? -1
              : static_cast<int>(std::clamp<long long>(
                    std::chrono::ceil<std::chrono::milliseconds>(wake - now).count(), 0, INT_MAX));
      if (poll(waits.data(), waits.size(), timeout) < 0 && errno != EINTR) {
        return;
      }
      if (waits[0].revents != 0) {
        return;
      }
      for (std::size_t index = 0; index < connections.size(); ++index) {
        if (waits[index + 2].revents != 0) {
          Step(connections[index]);
        }
      }
      if (waits[1].revents != 0) {
        Admit(connections, listenAgain);
      }
    }
  }

  // Takes the connections waiting; past kMostConnections each one closes the
  // oldest that has not sent its request yet (else the oldest of all).
  void Admit(std::vector<Connection>& connections, Clock::time_point& listenAgain) {
    for (;;) {
      FileDescriptor fd(accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
      if (!fd.Valid()) {
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          // The connection waits in the backlog; listening again at once
          // would spin until a descriptor is free.
          listenAgain = Clock::now() + kShortOfDescriptors;
        }
        return;
      }
      if (connections.size() >= kMostConnections) {
        const auto idle = std::ranges::find(connections, Phase::kReading, &Connection::phase);
        connections.erase(idle != connections.end() ? idle : connections.begin());
      }
      connections.push_back({.fd = std::move(fd), .deadline = Clock::now() + kRequestTime});
    }
  }

  void Step(Connection& connection) {
    switch (connection.phase) {
      case Phase::kReading:
        Read(connection);
        break;
      case Phase::kWriting:
        Write(connection);
        break;
      case Phase::kDraining:
        Drain(connection);
        break;
    }
  }

  // The request's head, up to the blank line that ends it, what fits in
  // kMostRequestBytes, or what came before the client stopped sending.
  void Read(Connection& connection) {
    std::array<char, 1024> buffer{};
    std::string& request = connection.request;
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMostRequestBytes) {
      const ssize_t size = recv(connection.fd.Get(), buffer.data(),
                                std::min(buffer.size(), kMostRequestBytes - request.size()), 0);
      if (size == 0) {
        break;  // the client has said all it will
      }
      if (size < 0) {
        if (errno == EINTR) {
          continue;
        }
        if (errno != EAGAIN) {
          connection.fd.Close();
        }
        return;
      }
      request.append(buffer.data(), static_cast<std::size_t>(size));
    }
    {
      const std::scoped_lock lock(mutex_);
      connection.response = answer_(request, page_);
    }
    std::string().swap(request);
    connection.phase = Phase::kWriting;
    connection.deadline = Clock::now() + kAnswerTime;
    Write(connection);
  }

  void Write(Connection& connection) {
    const std::string& response = connection.response;
    while (connection.sent < response.size()) {
      const ssize_t size = send(connection.fd.Get(), response.data() + connection.sent,
                                response.size() - connection.sent, MSG_NOSIGNAL);
      if (size < 0) {
        if (errno == EINTR) {
          continue;
        }
        if (errno != EAGAIN) {
          connection.fd.Close();
        }
        return;
      }
      connection.sent += static_cast<std::size_t>(size);
    }
    std::string().swap(connection.response);
    // Closing with bytes of the client's unread would reset the connection,
    // which may cost the client the answer: read them until it closes too.
    shutdown(connection.fd.Get(), SHUT_WR);
    connection.phase = Phase::kDraining;
    Drain(connection);
  }

  static void Drain(Connection& connection) {
    std::array<char, 1024> buffer{};
    for (;;) {
      const ssize_t size = recv(connection.fd.Get(), buffer.data(), buffer.size(), 0);
      if (size > 0 || (size < 0 && errno == EINTR)) {
        continue;
      }
      if (size < 0 && errno == EAGAIN) {
        return;
      }
      connection.fd.Close();
      return;
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
