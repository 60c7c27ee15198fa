// A day of a watch's sweeps, one a simulated minute, told to a receiver
// that is down for stretches: the controller's own Recorder queues each
// event and its own Dispatcher delivers them, on a virtual clock, to a fake
// sink. What counts is what the receiver got: ids never received, and ids
// received twice (allowed only when the receiver had it but its answer came
// after the bound, so the event stayed queued and went again).
//
//   events_day [--devices N] [--days D] [--seed S] [--dir FOLDER]
//
// The network: N devices (40), each away now and then for stretches of 5 to
// 60 minutes of its own. The receiver: down from time to time for 1 minute
// to 4 hours, either refusing at once or hanging until the bound; up, it
// answers 1 delivery in 25 too late (it has the event, the sink timed out).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "controller/notify/dispatcher.h"
#include "controller/state/recorder.h"

namespace {

using namespace hostsweep::controller;
namespace fs = std::filesystem;
using Clock = Dispatcher::Clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::int64_t kDayStart = 1'796'774'400;  // 2026-12-09 00:00 UTC
constexpr std::int64_t kMinutesADay = 1440;
constexpr Address kNetwork = 0x0A000000U;  // 10.0.0.0
constexpr int kGoneAfter = 3;              // the watch's default
constexpr seconds kInterval{60};
constexpr seconds kSweep{3};         // a /24's sweep, before it is recorded
constexpr milliseconds kAnswer{30};  // a receiver that is up
constexpr milliseconds kRefusal{1};  // one that is down and refuses
constexpr int kDrainRounds = 30;     // after the day, the receiver up for good
constexpr std::string_view kSink = "webhook";

std::uint64_t Mix(std::uint64_t value) {  // splitmix64's finaliser
  value += 0x9E3779B97F4A7C15ULL;
  value = (value ^ (value >> 30U)) * 0xBF58476D1CE4E5B9ULL;
  value = (value ^ (value >> 27U)) * 0x94D049BB133111EBULL;
  return value ^ (value >> 31U);
}

std::vector<SeenHost> Found(int devices, std::int64_t minute, std::uint64_t seed) {
  std::vector<SeenHost> found;
  for (int device = 0; device < devices; ++device) {
    const std::int64_t stretch = 5 + (device * 7) % 56;
    const auto draw = Mix(seed ^ Mix(static_cast<std::uint64_t>(device)) ^
                          Mix(static_cast<std::uint64_t>(minute / stretch)));
    if (draw % 3 == 0) {
      continue;  // away for this stretch
    }
    const auto last = static_cast<std::uint8_t>(device + 1);
    found.push_back({.address = kNetwork + last,
                     .name = "host-" + std::to_string(device),
                     .mac = MacAddress{0x00, 0x1A, 0x2B, 0x00, 0x00, last},
                     .macSource = MacSource::kArp});
  }
  return found;
}

// The virtual clock every party reads.
struct VirtualClock {
  Clock::time_point now{};
};

// The receiver and the sink that posts to it.
class FlakySink : public EventSink {
 public:
  FlakySink(VirtualClock& clock, std::uint64_t seed) : clock_(clock), random_(seed) {}

  [[nodiscard]] std::string_view Name() const override { return kSink; }

  Delivery Deliver(const QueuedEvent& queued, milliseconds bound) override {
    ++deliveries_;
    if (down_ > clock_.now) {
      clock_.now += hangs_ ? bound : kRefusal;
      return {.confirmed = false, .why = hangs_ ? "timed out" : "connection refused"};
    }
    received_.push_back(queued.event.id);
    arrived_.emplace(queued.event.id, clock_.now);
    if (std::uniform_int_distribution<int>(0, 24)(random_) == 0) {
      ++late_;
      lateIds_.push_back(queued.event.id);
      clock_.now += bound;
      return {.confirmed = false, .why = "timed out"};
    }
    clock_.now += kAnswer;
    return {.confirmed = true};
  }

  // Once a simulated minute: a stretch down may begin.
  void Minute() {
    if (healed_ || down_ > clock_.now || std::uniform_int_distribution<int>(0, 59)(random_) != 0) {
      return;
    }
    const int minutes = std::uniform_int_distribution<int>(1, 240)(random_);
    down_ = clock_.now + std::chrono::minutes(minutes);
    hangs_ = std::uniform_int_distribution<int>(0, 1)(random_) == 1;
    ++outages_;
    downMinutes_ += minutes;
  }
  void Heal() {
    healed_ = true;
    down_ = {};
  }

  [[nodiscard]] const std::vector<std::int64_t>& Received() const { return received_; }
  [[nodiscard]] const std::vector<std::int64_t>& LateIds() const { return lateIds_; }
  [[nodiscard]] const std::multimap<std::int64_t, Clock::time_point>& Arrived() const {
    return arrived_;
  }
  [[nodiscard]] int Deliveries() const { return deliveries_; }
  [[nodiscard]] int Late() const { return late_; }
  [[nodiscard]] int Outages() const { return outages_; }
  [[nodiscard]] int DownMinutes() const { return downMinutes_; }

 private:
  VirtualClock& clock_;
  std::mt19937_64 random_;
  Clock::time_point down_{};
  bool hangs_ = false;
  bool healed_ = false;
  std::vector<std::int64_t> received_;
  std::vector<std::int64_t> lateIds_;
  std::multimap<std::int64_t, Clock::time_point> arrived_;
  int deliveries_ = 0;
  int late_ = 0;
  int outages_ = 0;
  int downMinutes_ = 0;
};

struct Settings {
  int devices = 40;
  int days = 1;
  std::uint64_t seed = 1;
  fs::path folder = fs::temp_directory_path();
};

Settings SettingsOf(int argc, char** argv) {
  Settings settings;
  for (int index = 1; index + 1 < argc; index += 2) {
    const std::string_view option = argv[index];
    const char* value = argv[index + 1];
    if (option == "--devices") {
      settings.devices = std::clamp(std::stoi(value), 1, 250);
    } else if (option == "--days") {
      settings.days = std::stoi(value);
    } else if (option == "--seed") {
      settings.seed = std::stoull(value);
    } else if (option == "--dir") {
      settings.folder = value;
    } else {
      throw std::invalid_argument("unknown option " + std::string(option));
    }
  }
  return settings;
}

std::vector<Address> Swept() {
  std::vector<Address> swept;
  for (Address last = 1; last < 255; ++last) {
    swept.push_back(kNetwork + last);
  }
  return swept;
}

void Run(const Settings& settings) {
  const fs::path file = settings.folder / "events_day.db";
  for (const char* suffix : {"", "-wal", "-shm"}) {
    fs::remove(fs::path(file) += suffix);
  }
  Database database(file, StateAccess::kWrite);
  Recorder recorder(database, kGoneAfter, [](const MacAddress&) { return std::string("Maker"); },
                    {std::string(kSink)});
  VirtualClock clock;
  FlakySink sink(clock, settings.seed);
  std::ostringstream log;  // the dispatcher's lines, counted
  Dispatcher dispatcher(recorder.Queues(), {&sink}, log, [&clock] { return clock.now; });

  const std::vector<Address> swept = Swept();
  const std::int64_t minutes = settings.days * kMinutesADay;
  std::map<std::int64_t, Clock::time_point> told;  // id, when recorded
  for (std::int64_t round = 0; round < minutes + kDrainRounds; ++round) {
    const std::int64_t minute = std::min(round, minutes - 1);  // the network still after the day
    if (round == minutes) {
      sink.Heal();
    }
    sink.Minute();
    clock.now += kSweep;
    const auto epoch =
        kDayStart + std::chrono::duration_cast<seconds>(clock.now.time_since_epoch()).count();
    for (const WatchEvent& event :
         recorder.Record(Found(settings.devices, minute, settings.seed), swept, false, epoch)
             .told) {
      told.emplace(event.id, clock.now);
    }
    const auto next = clock.now + kInterval;
    dispatcher.SweepRecorded(next);
    // As the watch waits: woken for each retry that falls due before the next
    // sweep; a delivery that runs past it leaves the rest to that sweep.
    for (auto due = dispatcher.NextDue(); due && *due < next && clock.now < next;
         due = dispatcher.NextDue()) {
      clock.now = std::max(clock.now, *due);
      dispatcher.DeliverDue(next);
    }
    clock.now = std::max(clock.now, next);
  }

  std::map<std::int64_t, int> times;
  for (const std::int64_t id : sink.Received()) {
    ++times[id];
  }
  std::map<std::int64_t, int> lateTimes;
  for (const std::int64_t id : sink.LateIds()) {
    ++lateTimes[id];
  }
  int never = 0;
  int twice = 0;
  int unexplained = 0;        // received more often than late answers explain
  std::vector<double> waits;  // seconds from recorded to first received
  for (const auto& [id, when] : told) {
    const auto found = times.find(id);
    if (found == times.end()) {
      ++never;
      continue;
    }
    twice += found->second > 1 ? 1 : 0;
    unexplained += found->second > 1 + lateTimes[id] ? 1 : 0;
    waits.push_back(std::chrono::duration<double>(sink.Arrived().find(id)->second - when).count());
  }
  int outOfOrder = 0;  // first arrivals after a later id's
  std::int64_t newest = 0;
  std::map<std::int64_t, bool> had;
  for (const std::int64_t id : sink.Received()) {
    if (!std::exchange(had[id], true)) {
      outOfOrder += id < newest ? 1 : 0;
      newest = std::max(newest, id);
    }
  }
  std::sort(waits.begin(), waits.end());
  const SinkStatus status = recorder.Queues().Status(kSink);

  std::cout << settings.devices << " devices, " << minutes << " rounds (+" << kDrainRounds
            << " with the receiver back for good), seed " << settings.seed << "\n";
  std::cout << "receiver down " << sink.Outages() << " times, " << sink.DownMinutes()
            << " minutes in all; " << sink.Deliveries() << " deliveries tried, " << sink.Late()
            << " answered after the bound\n";
  std::cout << "events told " << told.size() << ", received " << times.size() << ", never received "
            << never << ", received twice " << twice << " (not after a late answer: " << unexplained
            << "), first arrivals out of order " << outOfOrder << "\n";
  if (!waits.empty()) {
    std::cout << "recorded to received: median " << waits[waits.size() / 2] << " s, max "
              << waits.back() << " s\n";
  }
  std::cout << "left queued " << status.queued << ", dropped " << status.dropped << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Run(SettingsOf(argc, argv));
  } catch (const std::exception& error) {
    std::cerr << "events_day: " << error.what() << "\n";
    return 1;
  }
}
