#include "controller/web/dashboard.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <pthread.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include "controller/base/errors.h"
#include "controller/inventory/known_edit.h"
#include "controller/inventory/known_file.h"
#include "controller/model/json_fields.h"
#include "controller/notify/metrics.h"
#include "controller/notify/metrics_http.h"
#include "controller/notify/secret_option.h"
#include "controller/state/database.h"
#include "controller/system/replaced_file.h"
#include "controller/web/dashboard_api.h"
#include "controller/web/gzip_answer.h"
#include "controller/web/page_files.h"
#include "controller/web/request_pool.h"
#include "controller/web/web_access.h"

namespace hostsweep::controller {
namespace {

// Threads answering at once, connections waiting for one, and live event
// streams (each holds a thread while open, so fewer than the threads: a
// page open in eight browsers leaves four threads for the rest).
constexpr std::size_t kThreads = 12;
constexpr std::size_t kWaiting = 32;
constexpr int kMostStreams = 8;
// A slow or silent client is cut after this; a keep-alive connection idles
// no longer either.
constexpr time_t kClientSeconds = 3;
// A stream ends after a while and the browser opens a new one from its last
// event: no stream lasts, and none holds a database open for long. Within
// its life a stream keeps its connection, and reads the events only when
// the database's data_version says another connection committed: a look
// every half second costs next to nothing while nothing happens.
constexpr auto kStreamLife = std::chrono::minutes(1);
constexpr auto kStreamPoll = std::chrono::milliseconds(500);
constexpr std::size_t kMostEvents = 500;
// An edit of one device's row: a few fields of at most a line each.
constexpr std::size_t kMostBody = 8192;

constexpr const char* kJson = "application/json; charset=utf-8";
// An answer that fits one packet anyway goes as it is.
constexpr std::size_t kLeastGzipped = 1500;
// The page's style and script are asked for at their content's hash
// (?v=...): a browser keeps them until the program serves another page.
constexpr const char* kKept = "public, max-age=31536000, immutable";

std::optional<std::int64_t> Number(std::string_view text) {
  std::int64_t value = 0;
  const auto* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value < 0) {
    return std::nullopt;
  }
  return value;
}

bool InNumbers(const std::string& host) {
  std::array<unsigned char, sizeof(in6_addr)> bytes{};
  return inet_pton(AF_INET, host.c_str(), bytes.data()) == 1 ||
         inet_pton(AF_INET6, host.c_str(), bytes.data()) == 1;
}

// HTTPS with a certificate and its key, else HTTP.
std::unique_ptr<httplib::Server> Server(const DashboardSettings& settings) {
  if (settings.certificate.empty()) {
    return std::make_unique<httplib::Server>();
  }
  auto server =
      std::make_unique<httplib::SSLServer>(settings.certificate.c_str(), settings.key.c_str());
  if (!server->is_valid()) {
    throw UsageError("--web-cert " + settings.certificate + " --web-key " + settings.key +
                     ": not a PEM certificate and its private key");
  }
  return server;
}

class Dashboard : public SweepObserver {
 public:
  Dashboard(DashboardSettings settings, ListenAddress where, std::optional<WebPassword> password)
      : settings_(std::move(settings)),
        where_(std::move(where)),
        password_(password),
        token_(SessionToken()),
        server_(Server(settings_)) {
    if (!settings_.knownFile.empty()) {
      known_.emplace(settings_.knownFile);
    }
    server_->new_task_queue = [] { return new RequestPool(kThreads, kWaiting); };
    server_->set_read_timeout(kClientSeconds);
    server_->set_write_timeout(kClientSeconds);
    server_->set_keep_alive_timeout(kClientSeconds);
    server_->set_payload_max_length(kMostBody);
    server_->set_default_headers(
        {{"Content-Security-Policy",
          "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
          "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
         {"X-Content-Type-Options", "nosniff"},
         {"Referrer-Policy", "no-referrer"},
         {"Cache-Control", "no-store"}});
    server_->set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
          return Admitted(request, response) ? httplib::Server::HandlerResponse::Unhandled
                                             : httplib::Server::HandlerResponse::Handled;
        });
    Route();
    if (!server_->bind_to_port(where_.host, where_.port)) {
      throw SystemError("--web: cannot listen at " + settings_.address +
                        " (in use, or no address of this machine)");
    }
    // Every signal blocked in its threads (they inherit it): interruptions
    // stay with the main thread, which waits for them.
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    thread_ = std::thread([this] {
      server_->listen_after_bind();
      ended_ = true;
    });
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    // Until it runs, stop() would not stop it.
    while (!server_->is_running() && !ended_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  Dashboard(const Dashboard&) = delete;
  Dashboard& operator=(const Dashboard&) = delete;
  Dashboard(Dashboard&&) = delete;
  Dashboard& operator=(Dashboard&&) = delete;

  ~Dashboard() override {
    {
      const std::scoped_lock lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    server_->stop();
    thread_.join();
  }

  void SweepEnded(const SweepReport& report) override {
    std::string metrics = MetricsText(report);
    {
      const std::scoped_lock lock(mutex_);
      metrics_ = std::move(metrics);
    }
    wake_.notify_all();
  }

 private:
  // Refused: too many connections, a name this listener is not (a page of
  // another site that rebinds its name to a loopback address), no password.
  bool Admitted(const httplib::Request& request, httplib::Response& response) const {
    if (RequestPool::Refused()) {
      response.status = 503;
      response.set_header("Retry-After", "1");
      return false;
    }
    if (IsLoopback(where_.host) && !LoopbackHost(request.get_header_value("Host"))) {
      response.status = 421;
      return false;
    }
    if (password_ && !password_->Admits(request.get_header_value("Authorization"))) {
      response.status = 401;
      response.set_header("WWW-Authenticate", R"(Basic realm="hostsweep", charset="UTF-8")");
      return false;
    }
    return true;
  }

  [[nodiscard]] bool LoopbackHost(const std::string& host) const {
    const std::string port = ":" + std::to_string(where_.port);
    const std::string literal =
        where_.host.find(':') != std::string::npos ? "[" + where_.host + "]" : where_.host;
    return host == literal + port || host == "localhost" + port;
  }

  void Route() {
    const auto file = [this](const char* path, std::string_view body, const char* type,
                             const char* cache) {
      server_->Get(path, [body, type, cache](const httplib::Request&, httplib::Response& response) {
        response.set_content(body.data(), body.size(), type);
        response.headers.erase("Cache-Control");
        response.set_header("Cache-Control", cache);
      });
    };
    file("/", kDashboardPage, "text/html; charset=utf-8", "no-store");
    file("/dashboard.css", kDashboardStyle, "text/css; charset=utf-8", kKept);
    file("/dashboard.js", kDashboardScript, "text/javascript; charset=utf-8", kKept);
    server_->Get("/api/devices",
                 [this](const httplib::Request& request, httplib::Response& response) {
                   Read(request, response, [this](Database& database) {
                     return std::optional(DevicesJson(database, Known().get()));
                   });
                 });
    server_->Get(R"(/api/devices/(\d{1,18}))",
                 [this](const httplib::Request& request, httplib::Response& response) {
                   const auto id = Number(request.matches[1].str());
                   Read(request, response, [this, id](Database& database) {
                     return DeviceJson(database, *id, Known().get());
                   });
                 });
    server_->Get("/api/events", [this](const httplib::Request& request,
                                       httplib::Response& response) {
      const auto after = Number(request.get_param_value("after"));
      if (request.has_param("after") && !after) {
        response.status = 400;
        return;
      }
      Read(request, response, [this, after](Database& database) {
        return std::optional(EventsJson(EventsAfter(database, after, kMostEvents, Known().get())));
      });
    });
    server_->Get("/api/session", [this](const httplib::Request&, httplib::Response& response) {
      Json session;
      session["token"] = token_;
      session["editable"] = known_.has_value();
      response.set_content(JsonText(session), kJson);
    });
    server_->Post("/api/known", [this](const httplib::Request& request,
                                       httplib::Response& response) { Edit(request, response); });
    server_->Get("/api/events/stream",
                 [this](const httplib::Request& request, httplib::Response& response) {
                   Stream(request, response);
                 });
    if (settings_.watch) {
      server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
        const std::scoped_lock lock(mutex_);
        response.set_content(metrics_, "text/plain; version=0.0.4; charset=utf-8");
      });
    }
  }

  // The answer `query` makes from the database, opened for this request
  // alone: 404 for none, 503 while the database cannot be read.
  template <typename Query>
  void Read(const httplib::Request& request, httplib::Response& response,
            const Query& query) const {
    try {
      Database database(settings_.stateFile, StateAccess::kRead);
      if (std::optional<std::string> body = query(database)) {
        Answer(request, response, std::move(*body));
      } else {
        response.status = 404;
      }
    } catch (const std::exception& error) {
      response.status = 503;
      response.set_content(error.what(), "text/plain; charset=utf-8");
    }
  }

  // JSON, gzipped when large and the client takes it.
  static void Answer(const httplib::Request& request, httplib::Response& response,
                     std::string body) {
    response.set_header("Vary", "Accept-Encoding");
    if (body.size() >= kLeastGzipped && AcceptsGzip(request.get_header_value("Accept-Encoding"))) {
      if (std::optional<std::string> gzipped = Gzipped(body)) {
        response.set_header("Content-Encoding", "gzip");
        body = std::move(*gzipped);
      }
    }
    // set_content would copy it: 3.4 MB for 10 000 devices unpacked.
    response.body = std::move(body);
    response.set_header("Content-Type", kJson);
  }

  // The inventory as the file is now: read again when it changed (an edit,
  // the user's hand); a faulty file leaves the one read before.
  std::shared_ptr<const Inventory> Known() {
    const std::scoped_lock lock(knownMutex_);
    try {
      if (auto fresh = known_ ? known_->Changed() : std::nullopt) {
        inventory_ = std::make_shared<const Inventory>(std::move(*fresh));
      }
    } catch (const UsageError& fault) {
      std::cerr << "hostsweep: --web: " << fault.what() << "\n";
    }
    return inventory_;
  }

  // POST /api/known: one device's alias, owner, expect, away_after and
  // note, written to the --known file, which the watch reads again before
  // its next sweep. Answers the device as /api/devices/ID does.
  void Edit(const httplib::Request& request, httplib::Response& response) {
    const auto refusal = ChangeRefusal({.host = request.get_header_value("Host"),
                                        .origin = request.get_header_value("Origin"),
                                        .fetchSite = request.get_header_value("Sec-Fetch-Site"),
                                        .contentType = request.get_header_value("Content-Type"),
                                        .token = request.get_header_value("X-Hostsweep-Token")},
                                       token_);
    if (refusal) {
      Say(response, 403, *refusal);
      return;
    }
    if (!known_) {
      Say(response, 409, "read-only: start hostsweep with --known FILE to edit devices");
      return;
    }
    const auto asked = KnownEditOf(request.body);
    if (!asked) {
      Say(response, 400, R"(expected {"device": ID, "alias": TEXT, ...})");
      return;
    }
    try {
      Database database(settings_.stateFile, StateAccess::kRead);
      const auto host = DeviceHost(database, asked->device);
      if (!host) {
        Say(response, 404, "no such device");
        return;
      }
      {
        const std::scoped_lock lock(editMutex_);
        const std::string text = ReadKnownText(known_->Path());
        const std::string edited = EditedKnownText(text, *host, asked->facts);
        if (edited != text) {
          if (const auto failure = ReplaceWholeFile(known_->Path(), edited);
              !failure.step.empty()) {
            Say(response, 500, "--known: " + failure.why);
            return;
          }
        }
      }
      response.set_content(*DeviceJson(database, asked->device, Known().get()), kJson);
    } catch (const UsageError& fault) {
      Say(response, 400, fault.what());
    } catch (const std::exception& error) {
      Say(response, 503, error.what());
    }
  }

  static void Say(httplib::Response& response, int status, const std::string& text) {
    response.status = status;
    response.set_content(text, "text/plain; charset=utf-8");
  }

  // Server-Sent Events: each event after the client's last (Last-Event-ID,
  // or ?after=), as /api/events gives it, within half a second of its commit.
  void Stream(const httplib::Request& request, httplib::Response& response) {
    if (streams_.fetch_add(1) >= kMostStreams) {
      streams_.fetch_sub(1);
      response.status = 503;
      response.set_header("Retry-After", "5");
      return;
    }
    const std::string resumed = request.has_header("Last-Event-ID")
                                    ? request.get_header_value("Last-Event-ID")
                                    : request.get_param_value("after");
    auto stream = std::make_shared<EventStream>();
    stream->last = Number(resumed);
    const auto ends = std::chrono::steady_clock::now() + kStreamLife;
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, stream, ends](std::size_t /*offset*/, httplib::DataSink& sink) {
          return StreamOnce(*stream, ends, sink);
        },
        [this](bool /*success*/) { streams_.fetch_sub(1); });
  }

  struct EventStream {
    std::optional<std::int64_t> last;  // the newest event sent
    std::optional<Database> database;
    std::int64_t version = -1;  // data_version when the events were read
  };

  bool StreamOnce(EventStream& stream, std::chrono::steady_clock::time_point ends,
                  httplib::DataSink& sink) {
    std::string text;
    auto& last = stream.last;
    try {
      if (!stream.database) {
        stream.database.emplace(settings_.stateFile, StateAccess::kRead);
      }
      Database& database = *stream.database;
      const auto version = database.Prepare("PRAGMA data_version");
      version->Step();
      if (version->Integer(0) == stream.version) {
        return Wait(ends, sink);
      }
      stream.version = version->Integer(0);
      if (!last) {
        // From now on: the page has read the events before from /api/events.
        const auto newest = EventsAfter(database, std::nullopt, 1, nullptr);
        last = newest.empty() ? 0 : newest.back().id;
        text = "retry: 1000\n\n";
      }
      for (const EventText& event : EventsAfter(database, last, kMostEvents, Known().get())) {
        text += "id: " + std::to_string(event.id) + "\ndata: " + event.json + "\n\n";
        last = event.id;
      }
    } catch (const std::exception&) {
      // Not readable now (a watch replacing it): the browser asks again.
      sink.done();
      return true;
    }
    if (!text.empty() && !sink.write(text.data(), text.size())) {
      return false;
    }
    return Wait(ends, sink);
  }

  // Half a second, or less when the dashboard stops; the stream ends with
  // its life.
  bool Wait(std::chrono::steady_clock::time_point ends, httplib::DataSink& sink) {
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, kStreamPoll, [this] { return stopping_; }) ||
        std::chrono::steady_clock::now() > ends) {
      sink.done();
    }
    return true;
  }

  DashboardSettings settings_;
  ListenAddress where_;
  std::optional<WebPassword> password_;
  std::string token_;  // /api/session's: every change carries it
  std::optional<KnownFile> known_;
  std::shared_ptr<const Inventory> inventory_;
  std::mutex knownMutex_;
  std::mutex editMutex_;  // one edit of the file at a time
  std::unique_ptr<httplib::Server> server_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::string metrics_;
  std::atomic<int> streams_{0};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace

std::unique_ptr<SweepObserver> StartDashboard(const DashboardSettings& settings) {
  const ListenAddress where = ParseListenAddress(settings.address, "--web");
  if (!InNumbers(where.host)) {
    throw UsageError("--web " + settings.address + ": the address must be in numbers");
  }
  if (const auto problem = WebListenProblem(where, !settings.password.empty())) {
    throw UsageError(*problem);
  }
  std::optional<WebPassword> password;
  if (!settings.password.empty()) {
    if (!settings.password.starts_with('@')) {
      throw UsageError(
          "--web-password takes @FILE: a password on the command line shows to "
          "every user of this machine");
    }
    password.emplace(SecretOption(settings.password));
    if (!IsLoopback(where.host) && settings.certificate.empty()) {
      std::cerr << "hostsweep: --web: without --web-cert and --web-key (TLS) the password and "
                   "the pages travel in clear\n";
    }
  }
  if (!settings.watch) {
    // Alone, a file that is not ours, or not there yet, is said at start.
    const Database check(settings.stateFile, StateAccess::kRead);
  }
  if (!settings.knownFile.empty()) {
    ReadInventory(settings.knownFile);  // a faulty one is said at start
  }
  return std::make_unique<Dashboard>(settings, where, password);
}

}  // namespace hostsweep::controller
