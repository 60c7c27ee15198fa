// Events told to a command (--on-event), in the lab: hosts stood in for by
// ARP answerers come and go while a watch, or a sweep, records them with
// --state; the command is down for a while, hangs, or writes what a
// terminal would obey.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"
#include "tests/integration/stand_ins.h"
#include "tests/temporary_folder.h"

namespace hostsweep::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr milliseconds kPatience{60000};
constexpr const char* kTargets = "10.213.3.1-9";

std::vector<std::string> LinesOf(const fs::path& path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    lines.push_back(line);
  }
  return lines;
}

class EventsInLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InLab()) {
      GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
    }
    fs::remove_all(kFolder.Path());
    fs::create_directories(kFolder.Path());
  }
  static std::string File(const std::string& name) { return (kFolder / name).string(); }

  // Takes an event only once the file "open" exists: notes its id, kind and
  // address (after checking that its input is the same event) and says so
  // with a terminal control in the line.
  static std::string GatedCommand() {
    return "[ -e " + File("open") + " ] || exit 1; " +
           R"(read -r json; case $json in )"
           R"(*"{\"id\":$HOSTSWEEP_EVENT_ID,\"time\":"*"\"kind\":\"$HOSTSWEEP_EVENT_KIND\""*) ;; )"
           R"(*) exit 2;; esac; )"
           R"(echo "$HOSTSWEEP_EVENT_ID $HOSTSWEEP_EVENT_KIND $HOSTSWEEP_EVENT_ADDRESS" >> )" +
           File("told") + R"(; printf 'took \033[2J%s\n' "$HOSTSWEEP_EVENT_ID")";
  }

  static bool AwaitTold(std::size_t count) {
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (LinesOf(File("told")).size() < count) {
      if (std::chrono::steady_clock::now() > end) {
        return false;
      }
      std::this_thread::sleep_for(milliseconds(200));
    }
    return true;
  }

 private:
  inline static const TemporaryFolder kFolder;
};

// A new database's first sweep is its baseline, one line and no event; then
// while the command fails, the events wait; once it succeeds each arrives
// once, in order, as the watch told it (a host that returns is back); what
// it writes is masked.
TEST_F(EventsInLab, CommandDownForAWhileGetsEveryEventOnceInOrder) {
  auto hosts = StandUp({{"10.213.3.1", "00-1A-2B-00-00-01"}});
  ChildProcess watching(
      ControllerCommand({"--watch", "1s", "--json", "--no-extra-names", "--gone-after", "1",
                         "--state", File("state.db"), "--on-event", GatedCommand(), kTargets}));
  // The baseline is recorded, and said on standard error alone.
  const auto giveUp = std::chrono::steady_clock::now() + kPatience;
  while (RunController({"--state", File("state.db"), "--history", "--json"})
             .standardOutput.find("10.213.3.1") == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), giveUp);
    std::this_thread::sleep_for(milliseconds(300));
  }
  hosts.push_back(StandIn("10.213.3.2", "00-1A-2B-00-00-02"));
  ASSERT_TRUE(watching.AwaitOutput("\"10.213.3.2\"", kPatience));
  hosts.erase(hosts.begin());
  ASSERT_TRUE(watching.AwaitOutput("\"gone\"", kPatience));
  hosts.push_back(StandIn("10.213.3.1", "00-1A-2B-00-00-01"));
  ASSERT_TRUE(watching.AwaitOutput("\"back\"", kPatience));
  std::ofstream(File("open")).flush();
  const bool told = AwaitTold(3);
  kill(watching.pid(), SIGINT);
  const auto watched = watching.Finish();
  EXPECT_TRUE(told) << watched.standardError;
  // Event 1 is the baseline's, recorded and never told.
  EXPECT_THAT(LinesOf(File("told")),
              ElementsAre("2 new 10.213.3.2", "3 gone 10.213.3.1", "4 back 10.213.3.1"));
  EXPECT_THAT(watched.standardError,
              HasSubstr("hostsweep: 1 device recorded; changes are told from now on\n"));
  EXPECT_THAT(watched.standardOutput,
              ::testing::Not(HasSubstr("\"new\",\"address\":\"10.213.3.1\"")));
  EXPECT_THAT(watched.standardError,
              HasSubstr("hostsweep: --on-event: not delivered (exit status 1)"));
  EXPECT_THAT(watched.standardError, HasSubstr("hostsweep: --on-event: took ?[2J3\n"));
  EXPECT_EQ(watched.standardError.find('\033'), std::string::npos) << watched.standardError;
}

// Runs the watch (with -v) until `sweeps` more sweeps ended after `reached`
// (given the sweeps so far) first held, then interrupts it; at the latest
// after kPatience.
ProcessResult SweepsAfter(ChildProcess& watching, std::size_t sweeps,
                          const std::function<bool(std::size_t)>& reached) {
  const auto start = std::chrono::steady_clock::now();
  std::optional<std::size_t> from;
  bool stopped = false;
  return watching.Finish([&](const ProcessResult& sofar) {
    std::size_t beats = 0;
    for (std::size_t at = 0; (at = sofar.standardError.find(" swept, ", at)) != std::string::npos;
         ++at) {
      ++beats;
    }
    if (!from && reached(beats)) {
      from = beats;
    }
    if (!stopped && ((from && beats >= *from + sweeps) ||
                     std::chrono::steady_clock::now() - start > kPatience)) {
      kill(watching.pid(), SIGINT);
      stopped = true;
    }
  });
}

// A second host claiming an address, 20 ms behind its holder, is a conflict
// told once however many sweeps hear it, and not again by a watch started
// again on the same database, which tells its end once the claim stops.
TEST_F(EventsInLab, ConflictIsToldOnceWhenItStartsAndOnceWhenItEnds) {
  const auto hosts = StandUp({{"10.213.3.1", "00-1A-2B-00-00-01"}});
  const std::vector<std::string> watch{
      "--watch",
      "1s",
      "-v",
      "--no-extra-names",
      "--state",
      File("state.db"),
      "--on-event",
      R"(echo "$HOSTSWEEP_EVENT_KIND $HOSTSWEEP_EVENT_ADDRESS $HOSTSWEEP_EVENT_MAC )"
      R"($HOSTSWEEP_EVENT_OTHER_MAC" >> )" +
          File("told"),
      kTargets};
  std::unique_ptr<ChildProcess> claimer;
  ChildProcess first(ControllerCommand(watch));
  const auto started = SweepsAfter(first, 3, [&](std::size_t beats) {
    if (beats >= 1 && !claimer) {
      claimer = StandIn("10.213.3.1", "00-1A-2B-00-00-02", milliseconds(20));
    }
    return !LinesOf(File("told")).empty();
  });
  const std::string conflict = "conflict 10.213.3.1 00:1a:2b:00:00:01 00:1a:2b:00:00:02";
  EXPECT_THAT(LinesOf(File("told")), ElementsAre(conflict)) << started.standardError;
  const std::string warning = "10.213.3.1 answered ARP from two MAC addresses";
  const auto said = started.standardError.find(warning);
  EXPECT_NE(said, std::string::npos) << started.standardError;
  EXPECT_EQ(started.standardError.find(warning, said + 1), std::string::npos);

  ChildProcess second(ControllerCommand(watch));
  const auto ended = SweepsAfter(second, 1, [&](std::size_t beats) {
    if (beats >= 2) {
      claimer.reset();
    }
    return LinesOf(File("told")).size() >= 2;
  });
  EXPECT_THAT(LinesOf(File("told")), ElementsAre(conflict, "conflict-ended" + conflict.substr(8)))
      << ended.standardError;
  EXPECT_THAT(ended.standardError, ::testing::Not(HasSubstr(warning)));
  EXPECT_THAT(ended.standardError, HasSubstr("10.213.3.1 answers ARP from one MAC address again"));
}

// One sweep at a time on the same database: the sweep that first hears a
// second claim tells the conflict, those after it say nothing while it lasts,
// and the first that no longer hears it tells its end.
TEST_F(EventsInLab, SweepsOneAtATimeTellAConflictOnceAndItsEndOnce) {
  const auto hosts = StandUp({{"10.213.3.1", "00-1A-2B-00-00-01"}});
  const auto sweep = [] {
    return RunController(
        {"--no-extra-names", "--state", File("state.db"), "--on-event",
         R"(echo "$HOSTSWEEP_EVENT_KIND $HOSTSWEEP_EVENT_OTHER_MAC" >> )" + File("told"),
         kTargets});
  };
  std::string said = sweep().standardError;
  auto claimer = StandIn("10.213.3.1", "00-1A-2B-00-00-02", milliseconds(20));
  said += sweep().standardError + sweep().standardError;
  claimer.reset();
  said += sweep().standardError;
  EXPECT_THAT(LinesOf(File("told")),
              ElementsAre("conflict 00:1a:2b:00:00:02", "conflict-ended 00:1a:2b:00:00:02"))
      << said;
}

// A command that never ends costs each sweep one delivery's bound at most,
// and is killed whole, its own children too.
TEST_F(EventsInLab, CommandThatHangsNeverHoldsTheSweepsUp) {
  const auto hosts = StandUp({{"10.213.3.1", "00-1A-2B-00-00-01"}});
  ChildProcess watching(ControllerCommand(
      {"--watch", "1s", "-v", "--no-extra-names", "--announce-existing", "--state",
       File("state.db"), "--on-event",
       "echo $$ >> " + File("pids") + "; sleep 600 & echo $! >> " + File("pids") + "; wait",
       kTargets}));
  constexpr std::size_t kSweeps = 4;
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::chrono::steady_clock::time_point> beats;
  bool stopped = false;
  const auto watched = watching.Finish([&](const ProcessResult& sofar) {
    std::size_t count = 0;
    for (std::size_t at = 0; (at = sofar.standardError.find(" swept, ", at)) != std::string::npos;
         ++at) {
      ++count;
    }
    while (beats.size() < count) {
      beats.push_back(std::chrono::steady_clock::now());
    }
    if (!stopped &&
        (beats.size() >= kSweeps || std::chrono::steady_clock::now() - start > kPatience * 2)) {
      kill(watching.pid(), SIGINT);
      stopped = true;
    }
  });
  ASSERT_GE(beats.size(), kSweeps) << watched.standardError;
  // A wide guard: the interval, a delivery's bound of 5 s, and a sweep.
  for (std::size_t i = 1; i < beats.size(); ++i) {
    EXPECT_LT(beats[i] - beats[i - 1], std::chrono::seconds(30)) << watched.standardError;
  }
  EXPECT_THAT(watched.standardError, HasSubstr("still running after 5 s: killed"));
  const auto pids = LinesOf(File("pids"));
  EXPECT_GE(pids.size(), 2U);
  for (const std::string& pid : pids) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string state;
    for (int field = 0; field < 3 && stat >> state; ++field) {
    }
    EXPECT_TRUE(!stat || state == "Z") << "process " << pid << " still runs";
  }
}

// A sweep with --state queues its events, delivers what it can, and the
// next run delivers what the command refused before.
TEST_F(EventsInLab, SweepWithStateDeliversOnceAndKeepsTheRestForTheNext) {
  const auto hosts = StandUp({{"10.213.3.1", "00-1A-2B-00-00-01"}});
  const std::vector<std::string> sweep{"--state",    File("state.db"), "--no-extra-names",
                                       "--on-event", GatedCommand(),   "--announce-existing",
                                       kTargets};
  const auto refused = RunController(sweep);
  EXPECT_THAT(refused.standardError, HasSubstr("not delivered (exit status 1)"));
  EXPECT_TRUE(LinesOf(File("told")).empty());
  std::ofstream(File("open")).flush();
  const auto delivered = RunController(sweep);
  EXPECT_THAT(LinesOf(File("told")), ElementsAre("1 new 10.213.3.1")) << delivered.standardError;
}

}  // namespace
}  // namespace hostsweep::testing
