// --mqtt in the lab: a real mosquitto broker on delta's side of the bridge,
// mosquitto_sub as its listeners, hosts stood in for by ARP answerers that
// come and go while a watch runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"
#include "tests/integration/stand_ins.h"

namespace hostsweep::testing {
namespace {

using nlohmann::json;

constexpr int kExitInterrupted = 130;
constexpr milliseconds kPatience{60000};
constexpr const char* kBroker = "10.213.0.13";  // delta
constexpr const char* kPrefix = "lab";
constexpr const char* kTargets = "10.213.3.1-9";

// In the lab's own run folder (lab.sh exec says where), which the broker's
// store shares with nothing else.
std::filesystem::path WorkFolder() {
  const char* lab = std::getenv("HOSTSWEEP_LAB_STATE");
  auto folder =
      std::filesystem::path(lab != nullptr ? lab : std::filesystem::temp_directory_path()) / "mqtt";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

// mosquitto on delta, its store in `folder`, so that a restart keeps the
// retained messages and the sessions.
class Broker {
 public:
  explicit Broker(const std::filesystem::path& folder) : config_(folder / "mosquitto.conf") {
    std::ofstream(config_) << "listener 1883 " << kBroker << "\nallow_anonymous true\n"
                           << "persistence true\npersistence_location " << folder.string()
                           << "/\nuser root\nlog_dest file " << (folder / "broker.log").string()
                           << "\n";
    Start();
  }

  void Start() {
    process_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        HOSTSWEEP_LAB_SCRIPT, "hostexec", "delta", "/usr/sbin/mosquitto", "-c", config_.string()});
    // -E: ends as soon as it has subscribed, that is once the broker listens.
    for (int tries = 0; tries < 50; ++tries) {
      if (RunProcess({"/usr/bin/mosquitto_sub", "-h", kBroker, "-t", "ready", "-E"}).exitStatus ==
          0) {
        return;
      }
      std::this_thread::sleep_for(milliseconds(100));
    }
    ADD_FAILURE() << "the broker did not start";
  }

  void Stop() {
    kill(process_->pid(), SIGTERM);
    EXPECT_TRUE(process_->AwaitEnd(milliseconds(10000)));
    process_.reset();
  }

  // "topic payload" lines of what the broker holds for `filter` (retained
  // messages; $SYS ones are published at once too).
  static std::vector<std::string> Retained(const std::string& filter, int seconds = 2) {
    const auto result = RunProcess({"/usr/bin/mosquitto_sub", "-h", kBroker, "-t", filter, "-v",
                                    "--retained-only", "-W", std::to_string(seconds)});
    std::vector<std::string> lines;
    std::istringstream text(result.standardOutput);
    for (std::string line; std::getline(text, line);) {
      lines.push_back(line);
    }
    return lines;
  }

 private:
  std::filesystem::path config_;
  std::unique_ptr<ChildProcess> process_;
};

std::map<std::string, json> ByTopic(const std::vector<std::string>& lines) {
  std::map<std::string, json> payloads;
  for (const std::string& line : lines) {
    const std::size_t space = line.find(' ');
    payloads[line.substr(0, space)] = json::parse(line.substr(space + 1));
  }
  return payloads;
}

std::string Contents(const std::filesystem::path& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), {}};
}

// Event id → its JSON, from lines of event JSON (blank lines left out).
std::map<std::int64_t, json> EventsById(const std::string& text) {
  std::map<std::int64_t, json> events;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) {
      continue;
    }
    const json event = json::parse(line);
    const auto [at, added] = events.emplace(event.at("id").get<std::int64_t>(), event);
    EXPECT_EQ(at->second, event) << "two events with one id";
  }
  return events;
}

// The site's retained status, as a listener that comes now reads it; the
// broker may take a moment to publish a last will.
bool AwaitStatus(const std::string& status) {
  const std::string topic = std::string(kPrefix) + "/status";
  const std::vector<std::string> expected{topic + ' ' + status};
  for (int tries = 0; tries < 5; ++tries) {
    if (Broker::Retained(topic, 1) == expected) {
      return true;
    }
  }
  return false;
}

class MqttInLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InLab()) {
      GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
    }
    for (const char* program : {"/usr/sbin/mosquitto", "/usr/bin/mosquitto_sub"}) {
      if (!std::filesystem::exists(program)) {
        GTEST_SKIP() << "needs " << program << " (scripts/install-deps test)";
      }
    }
  }
};

// Every event reaches a listener that was there all along, though the broker
// restarted while hosts came and went; the devices' states and Home
// Assistant's configs wait retained for a listener that comes late; the last
// will says offline once the watch is killed.
TEST_F(MqttInLab, WatchFeedsTheBrokerAcrossItsRestart) {
  const auto folder = WorkFolder();
  Broker broker(folder);
  // A persistent session of its own (-c, a fixed id): the broker keeps what
  // arrives for it while it is away.
  const auto heard = folder / "heard";
  std::ofstream(heard).flush();
  ChildProcess listener({"/usr/bin/mosquitto_sub", "-h", kBroker, "-i", "hostsweep-lab-listener",
                         "-c", "-q", "1", "-t", std::string(kPrefix) + "/event"},
                        heard.string());
  const auto told = folder / "events";
  auto hosts = std::vector<std::unique_ptr<ChildProcess>>{};
  RunProcess({"/bin/ip", "-4", "neigh", "flush", "dev", "br0"});
  hosts.push_back(StandIn("10.213.3.1", "00-1A-2B-00-00-01"));
  const auto watch =
      ControllerCommand({"--watch", "1s", "--json", "--no-extra-names", "--announce-existing",
                         "--state", (folder / "state.db").string(), "--gone-after", "2",
                         "--on-event", "cat >>" + told.string() + "; echo >>" + told.string(),
                         "--mqtt", "mqtt://" + std::string(kBroker) + "/" + kPrefix, kTargets});
  ChildProcess watching(watch);
  ASSERT_TRUE(watching.AwaitOutput("\"10.213.3.1\"", kPatience));

  broker.Stop();
  // A second MAC claims .1 while .6 is there: a conflict that ends before .6 is gone.
  hosts.push_back(StandIn("10.213.3.1", "00-1A-2B-00-00-02", milliseconds(20)));
  hosts.push_back(StandIn("10.213.3.6", "00-1A-2B-00-00-06"));
  ASSERT_TRUE(watching.AwaitOutput("\"10.213.3.6\"", kPatience));
  for (auto deadline = std::chrono::steady_clock::now() + kPatience;
       Contents(told).find(R"("kind":"conflict")") == std::string::npos &&
       std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(milliseconds(200))) {
  }
  hosts.resize(1);
  ASSERT_TRUE(watching.AwaitOutput("\"gone\"", kPatience));
  broker.Start();

  // The command's file is the record of every event the watch told.
  std::map<std::int64_t, json> expected;
  std::map<std::int64_t, json> received;
  for (auto deadline = std::chrono::steady_clock::now() + kPatience;
       std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(milliseconds(500))) {
    expected = EventsById(Contents(told));
    received = EventsById(Contents(heard));
    const bool toldGone = std::ranges::any_of(
        expected, [](const auto& entry) { return entry.second.at("kind") == "gone"; });
    if (toldGone && received.size() >= expected.size()) {
      break;
    }
  }
  EXPECT_GE(expected.size(), 4U);  // .6 new and gone, the conflict's start and end at least
  EXPECT_EQ(received, expected);
  for (const char* kind : {"conflict", "conflict-ended"}) {
    EXPECT_EQ(std::ranges::count_if(
                  expected, [kind](const auto& entry) { return entry.second.at("kind") == kind; }),
              1)
        << kind;
  }

  const auto states = ByTopic(Broker::Retained(std::string(kPrefix) + "/device/+"));
  const auto configs = ByTopic(Broker::Retained("homeassistant/device_tracker/+/config"));
  ASSERT_EQ(configs.size(), 2U);
  for (const auto& [topic, config] : configs) {
    const json& state = states.at(config.at("state_topic").get<std::string>());
    EXPECT_EQ(state.at("state"), state.at("address") == "10.213.3.1" ? "home" : "not_home");
    EXPECT_EQ(config.at("device").at("connections")[0][1], state.at("mac")) << topic;
    EXPECT_EQ(config.at("availability_topic"), std::string(kPrefix) + "/status");
  }
  EXPECT_TRUE(AwaitStatus("online"));

  kill(watching.pid(), SIGKILL);
  watching.Finish();
  EXPECT_TRUE(AwaitStatus("offline"));

  // Stopped, the watch says so itself, and Ctrl-C still stops it: the
  // client's thread takes none of the signals the watch waits for.
  ChildProcess again(watch);
  EXPECT_TRUE(AwaitStatus("online"));
  kill(again.pid(), SIGINT);
  EXPECT_EQ(again.Finish().exitStatus, kExitInterrupted);
  EXPECT_TRUE(AwaitStatus("offline"));
  broker.Stop();
}

}  // namespace
}  // namespace hostsweep::testing
