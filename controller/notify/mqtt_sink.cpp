#include "controller/notify/mqtt_sink.h"

#include <mosquitto.h>
#include <pthread.h>

#include <condition_variable>
#include <csignal>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "controller/base/errors.h"
#include "controller/notify/mqtt_messages.h"

namespace hostsweep::controller {
namespace {

constexpr int kKeepaliveSeconds = 30;
constexpr unsigned kReconnectFirstSeconds = 1;
constexpr unsigned kReconnectLongestSeconds = 60;
constexpr int kQos = 1;
// What the end waits for the last states and "offline" to be acknowledged.
constexpr std::chrono::seconds kFlushBound(2);
constexpr const char* kSystemCertificates = "/etc/ssl/certs";

class MosquittoSink final : public MqttSink {
 public:
  MosquittoSink(MqttUrl url, const std::string& clientId);
  MosquittoSink(const MosquittoSink&) = delete;
  MosquittoSink& operator=(const MosquittoSink&) = delete;
  MosquittoSink(MosquittoSink&&) = delete;
  MosquittoSink& operator=(MosquittoSink&&) = delete;
  ~MosquittoSink() override;

  [[nodiscard]] std::string_view Name() const override { return "mqtt"; }
  Delivery Deliver(const QueuedEvent& queued, std::chrono::milliseconds bound) override;
  void SweepEnded(const SweepReport& report) override;

 private:
  // An event's publish, kept until the dispatcher hears it confirmed: a
  // retry waits for the same message (which libmosquitto sends again after a
  // reconnect) instead of publishing a second one.
  struct Outstanding {
    int mid = 0;
    bool acknowledged = false;
  };

  // On libmosquitto's thread.
  void Connected(int code);
  void Disconnected(int code);
  void Acknowledged(int mid);

  // Under mutex_. The message's id, once libmosquitto holds it: it sends it
  // (again) until the broker acknowledges it, across reconnects.
  std::optional<int> PublishLocked(const std::string& topic, std::string_view payload, bool retain);
  void PublishRetainedLocked();
  void Start();
  void ConnectLocked();
  void LoopLocked(int connecting);

  MqttUrl url_;
  std::unique_ptr<mosquitto, decltype(&mosquitto_destroy)> client_;
  std::mutex mutex_;
  std::condition_variable acknowledged_;
  bool looping_ = false;  // libmosquitto's thread runs
  bool connected_ = false;
  std::string trouble_{};  // why the last connection failed or ended
  std::set<int> unacknowledged_{};
  std::map<std::int64_t, Outstanding> events_{};  // by event id
  // Retained documents by topic: as the last sweep left them, and as sent
  // on this connection (only the differences go out).
  std::map<std::string, std::string> latest_{};
  std::map<std::string, std::string> published_{};
};

MosquittoSink::MosquittoSink(MqttUrl url, const std::string& clientId)
    : url_(std::move(url)),
      client_(mosquitto_new(clientId.c_str(), /*clean_session=*/false, this), mosquitto_destroy) {
  if (!client_) {
    throw SystemError("--mqtt: no MQTT client: " + std::string(mosquitto_strerror(errno)));
  }
  Start();
}

void MosquittoSink::Start() {
  mosquitto* client = client_.get();
  const std::string status = StatusTopic(url_.prefix);
  const auto check = [](int code, std::string_view what) {
    if (code != MOSQ_ERR_SUCCESS) {
      throw SystemError("--mqtt: " + std::string(what) + ": " + mosquitto_strerror(code));
    }
  };
  check(mosquitto_will_set(client, status.c_str(), static_cast<int>(kOffline.size()),
                           kOffline.data(), kQos, /*retain=*/true),
        "last will");
  if (!url_.user.empty()) {
    check(mosquitto_username_pw_set(client, url_.user.c_str(),
                                    url_.password.empty() ? nullptr : url_.password.c_str()),
          "user");
  }
  if (url_.tls) {
    check(mosquitto_tls_set(client, nullptr, kSystemCertificates, nullptr, nullptr, nullptr),
          "TLS");
  }
  check(mosquitto_reconnect_delay_set(client, kReconnectFirstSeconds, kReconnectLongestSeconds,
                                      /*reconnect_exponential_backoff=*/true),
        "reconnect delay");
  mosquitto_connect_callback_set(client, [](mosquitto*, void* self, int code) {
    static_cast<MosquittoSink*>(self)->Connected(code);
  });
  mosquitto_disconnect_callback_set(client, [](mosquitto*, void* self, int code) {
    static_cast<MosquittoSink*>(self)->Disconnected(code);
  });
  mosquitto_publish_callback_set(client, [](mosquitto*, void* self, int mid) {
    static_cast<MosquittoSink*>(self)->Acknowledged(mid);
  });
  const int code = mosquitto_connect_async(client, url_.host.c_str(), url_.port, kKeepaliveSeconds);
  const std::scoped_lock lock(mutex_);
  LoopLocked(code);
}

void MosquittoSink::ConnectLocked() {
  if (!looping_) {
    LoopLocked(mosquitto_reconnect_async(client_.get()));
  }
}

// libmosquitto's thread reconnects, backing off, once a first connect got
// under way; a first one that failed outright (a broker not there yet) it
// never retries: that is done at each delivery and sweep until one starts.
void MosquittoSink::LoopLocked(int connecting) {
  if (connecting != MOSQ_ERR_SUCCESS) {
    trouble_ = mosquitto_strerror(connecting);
    return;
  }
  // The thread takes its creator's signal mask: with every signal blocked
  // it never takes the interruptions the main thread reads (SIGINT ends a
  // watch only when the main thread sees it).
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  const int code = mosquitto_loop_start(client_.get());
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (code != MOSQ_ERR_SUCCESS) {
    trouble_ = mosquitto_strerror(code);
    return;
  }
  looping_ = true;
}

MosquittoSink::~MosquittoSink() {
  bool wasConnected = false;
  {
    std::unique_lock lock(mutex_);
    wasConnected = connected_;
    if (connected_) {
      PublishLocked(StatusTopic(url_.prefix), kOffline, /*retain=*/true);
      acknowledged_.wait_for(lock, kFlushBound, [this] { return unacknowledged_.empty(); });
    }
  }
  mosquitto_disconnect(client_.get());
  if (!looping_) {
    return;
  }
  // Without a connection the client's thread may be inside a connect() to a
  // broker that never answers, for minutes: it is cancelled rather than
  // waited for.
  mosquitto_loop_stop(client_.get(), /*force=*/!wasConnected);
}

Delivery MosquittoSink::Deliver(const QueuedEvent& queued, std::chrono::milliseconds bound) {
  std::unique_lock lock(mutex_);
  ConnectLocked();
  const auto notConnected = [this] {
    return Delivery{.confirmed = false,
                    .why = "broker not connected" + (trouble_.empty() ? "" : ": " + trouble_)};
  };
  const std::int64_t id = queued.event.id;
  if (!events_.contains(id)) {
    if (!connected_) {
      return notConnected();
    }
    const auto mid = PublishLocked(EventTopic(url_.prefix), queued.json, /*retain=*/false);
    if (!mid) {
      return {.confirmed = false, .why = "the client refused to publish"};
    }
    events_[id] = {.mid = *mid};
  }
  const auto settled = [&] { return events_.at(id).acknowledged || !connected_; };
  if (!acknowledged_.wait_for(lock, bound, settled)) {
    return {
        .confirmed = false,
        .why = "no acknowledgement from the broker in " + std::to_string(bound.count()) + " ms"};
  }
  if (!events_.at(id).acknowledged) {
    return notConnected();
  }
  events_.erase(id);
  return {.confirmed = true};
}

void MosquittoSink::SweepEnded(const SweepReport& report) {
  std::map<std::string, std::string> latest;
  for (const DeviceStatus& device : report.devices) {
    latest[DiscoveryTopic(url_.prefix, device.id)] = DiscoveryJson(url_.prefix, device);
    latest[DeviceTopic(url_.prefix, device.id)] = DeviceStateJson(device);
  }
  latest[ConflictsTopic(url_.prefix)] = ConflictsJson(report.conflicts);
  const std::scoped_lock lock(mutex_);
  ConnectLocked();
  latest_ = std::move(latest);
  if (connected_) {
    PublishRetainedLocked();
  }
}

void MosquittoSink::Connected(int code) {
  const std::scoped_lock lock(mutex_);
  if (code != 0) {
    trouble_ = mosquitto_connack_string(code);
    return;
  }
  connected_ = true;
  trouble_.clear();
  published_.clear();  // a broker that restarted without its store has lost them
  PublishLocked(StatusTopic(url_.prefix), kOnline, /*retain=*/true);
  PublishRetainedLocked();
}

void MosquittoSink::Disconnected(int code) {
  {
    const std::scoped_lock lock(mutex_);
    connected_ = false;
    if (code != 0) {
      trouble_ = mosquitto_strerror(code);
    }
  }
  acknowledged_.notify_all();
}

void MosquittoSink::Acknowledged(int mid) {
  {
    const std::scoped_lock lock(mutex_);
    unacknowledged_.erase(mid);
    for (auto& [id, outstanding] : events_) {
      if (outstanding.mid == mid) {
        outstanding.acknowledged = true;
      }
    }
  }
  acknowledged_.notify_all();
}

std::optional<int> MosquittoSink::PublishLocked(const std::string& topic, std::string_view payload,
                                                bool retain) {
  int mid = 0;
  const int code =
      mosquitto_publish(client_.get(), &mid, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), kQos, retain);
  // Not connected: queued all the same, sent once the connection is back.
  if (code != MOSQ_ERR_SUCCESS && code != MOSQ_ERR_NO_CONN) {
    return std::nullopt;
  }
  unacknowledged_.insert(mid);
  return mid;
}

void MosquittoSink::PublishRetainedLocked() {
  for (const auto& [topic, payload] : latest_) {
    if (const auto sent = published_.find(topic);
        sent != published_.end() && sent->second == payload) {
      continue;
    }
    if (PublishLocked(topic, payload, /*retain=*/true)) {
      published_[topic] = payload;
    }
  }
}

}  // namespace

std::unique_ptr<MqttSink> MakeMqttSink(const std::string& url,
                                       const std::filesystem::path& database) {
  static std::once_flag libraryReady;
  std::call_once(libraryReady, [] { mosquitto_lib_init(); });
  // The same file by whatever path it is named, before it exists too.
  std::error_code unresolved;
  std::filesystem::path file = std::filesystem::weakly_canonical(database, unresolved);
  if (unresolved) {
    file = database;
  }
  return std::make_unique<MosquittoSink>(ParseMqttUrl(url), MqttClientId(file.string()));
}

}  // namespace hostsweep::controller
