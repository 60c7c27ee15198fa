// Faults in the middle of a sweep: workers and the controller killed, a
// worker file changed under a running chain, a receiver that never answers,
// hostile report packets, unrelated echo traffic on the same machine,
// interruptions while the controller is busy or its reader stalls, output
// that cannot be written, and signals the controller was started ignoring.
// Every sweep here takes the echo path (--no-arp), whose worker chains they
// exercise: on-link addresses that answer no ARP request would get no worker.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <thread>

#include "common/posix/report_socket.h"
#include "tests/integration/harness.h"
#include "tests/integration/reliability_support.h"
#include "tests/temporary_folder.h"

namespace hostsweep::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::SizeIs;

constexpr int kExitFound = 0;
constexpr int kExitNoneFound = 1;
constexpr int kExitSystem = 4;
constexpr int kExitInterrupted = 130;
constexpr auto kWorkersEndWithin = std::chrono::seconds(30);
// Far more than a controller that heeds the signal needs.
constexpr auto kPatience = std::chrono::seconds(10);

std::string RoguePath() { return HOSTSWEEP_ROGUE_WORKER_PATH; }

// Rogue workers in `mode` for the controllers started meanwhile, and how many
// workers (successors aside) were started.
class RogueWorkers {
 public:
  explicit RogueWorkers(const char* mode) : starts_(folder_ / "starts") {
    setenv("HOSTSWEEP_ROGUE_MODE", mode, 1);
    setenv("HOSTSWEEP_ROGUE_STARTS", starts_.c_str(), 1);
  }
  ~RogueWorkers() {
    unsetenv("HOSTSWEEP_ROGUE_MODE");
    unsetenv("HOSTSWEEP_ROGUE_STARTS");
  }
  RogueWorkers(const RogueWorkers&) = delete;
  RogueWorkers& operator=(const RogueWorkers&) = delete;

  [[nodiscard]] std::size_t Starts() const {
    std::ifstream lines(starts_);
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line);) {
      ++count;
    }
    return count;
  }

 private:
  TemporaryFolder folder_;
  std::filesystem::path starts_;
};

class FaultsInLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InLab()) {
      GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
    }
  }
  void TearDown() override {
    EXPECT_TRUE(WaitUntilNoneRun(WorkerPath(), kWorkersEndWithin)) << "a worker lingers";
    EXPECT_TRUE(WaitUntilNoneRun(RoguePath(), kWorkersEndWithin)) << "a rogue worker lingers";
  }
};

std::vector<std::string> States(const ControllerRun& run) {
  std::vector<std::string> states;
  const auto records = ReadCsv(run.standardOutput);
  for (std::size_t i = 1; i < records.size(); ++i) {
    states.push_back(records[i].at(1));
  }
  return states;
}

// Waits until `ready` holds and the process sleeps (a controller in its
// wait); false after kPatience.
bool AwaitWaiting(pid_t pid, const std::function<bool()>& ready) {
  const auto giveUp = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < giveUp) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    for (int i = 0; i < 3 && stat >> field; ++i) {  // pid, (name), state
    }
    if (ready() && field == "S") {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TEST_F(FaultsInLab, KilledWorkersLeaveTheirSlotsUnreportedAndTheSweepFinishes) {
  // Four dead batches of three: every worker spends two seconds on its first slot.
  ChildProcess sweep(
      ControllerCommand({"--no-arp", "--csv", "--batch", "3", "-j", "4", "10.213.1.1-12"}));
  ASSERT_TRUE(AwaitProcesses(WorkerPath(), 4));
  const auto workers = ProcessesRunning(WorkerPath());
  kill(workers[0], SIGKILL);
  kill(workers[1], SIGKILL);
  const auto run = sweep.Finish();
  EXPECT_EQ(run.exitStatus, kExitNoneFound) << run.standardError;
  const auto states = States(run);
  ASSERT_THAT(states, SizeIs(12));
  EXPECT_EQ(std::count(states.begin(), states.end(), "no report"), 6);
  EXPECT_EQ(std::count(states.begin(), states.end(), "dead"), 6);
}

// No code of a controller killed outright runs; its successors, adopted by
// the system, would hang on for ever.
TEST_F(FaultsInLab, HungWorkerChainsOfAKilledControllerAreEnded) {
  const RogueWorkers rogues("hang");
  ChildProcess sweep(ControllerCommand(
      {"--no-arp", "--csv", "-j", "4", "--batch", "1", "--worker", RoguePath(), "10.213.4.1-4"}));
  ASSERT_TRUE(AwaitProcesses(RoguePath(), 4));
  // Killed while it waits, all four started.
  ASSERT_TRUE(AwaitWaiting(sweep.pid(), [&rogues] { return rogues.Starts() == 4; }));
  kill(sweep.pid(), SIGKILL);
  EXPECT_EQ(sweep.Finish().exitStatus, -SIGKILL);
  EXPECT_TRUE(WaitUntilNoneRun(RoguePath(), kPatience));
}

// Killed at random moments while a thousand chains start: a chain whose
// worker runs is always known to the guardian, at every moment of its start.
TEST_F(FaultsInLab, NoHungChainOutlivesAControllerKilledDuringStartUp) {
  constexpr int kTrials = 20;
  const RogueWorkers rogues("hang");
  std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<int> moment(0, 2000);
  for (int trial = 0; trial < kTrials; ++trial) {
    ChildProcess sweep(ControllerCommand({"--no-arp", "--csv", "-j", "1024", "--batch", "1",
                                          "--worker", RoguePath(), "10.213.4.0/22"}));
    const auto killedAt = std::chrono::milliseconds(moment(random));
    std::this_thread::sleep_for(killedAt);
    kill(sweep.pid(), SIGKILL);
    EXPECT_EQ(sweep.Finish().exitStatus, -SIGKILL);
    ASSERT_TRUE(WaitUntilNoneRun(RoguePath(), kPatience))
        << "a worker outlived a controller killed " << killedAt.count() << " ms into its start";
  }
}

struct InterruptCase {
  const char* name;
  const char* mode;  // of the rogue workers
  int signal;
  std::vector<std::string> arguments;
  std::size_t addresses;
  bool stallOutput;  // signal once the output pipe is full and unread
};

void PrintTo(const InterruptCase& c, std::ostream* os) { *os << c.name; }

class InterruptionInLab : public FaultsInLab,
                          public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(InterruptionInLab, EndsTheSweepWithItsWorkersAndNoMoreStarted) {
  const auto& param = GetParam();
  const RogueWorkers rogues(param.mode);
  auto arguments = param.arguments;
  arguments.insert(arguments.end(), {"--worker", RoguePath()});
  ChildProcess sweep(ControllerCommand(arguments));
  if (param.stallOutput) {
    // Full: nearly a pipe's 64 KiB, and no more coming while rows are ready.
    const auto giveUp = std::chrono::steady_clock::now() + kPatience;
    for (std::size_t seen = 0; std::chrono::steady_clock::now() < giveUp;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      const std::size_t unread = sweep.UnreadOutput();
      if (unread >= 60000 && unread == seen) {
        break;
      }
      seen = unread;
    }
  } else {
    ASSERT_TRUE(AwaitProcesses(RoguePath(), 1));
  }
  kill(sweep.pid(), param.signal);
  ASSERT_TRUE(sweep.AwaitEnd(kPatience)) << "the signal was not heeded";
  const auto run = sweep.Finish();
  EXPECT_EQ(run.exitStatus, kExitInterrupted) << run.standardError;
  EXPECT_LT(rogues.Starts(), param.addresses);
  // Whole lines only.
  EXPECT_TRUE(run.standardOutput.empty() || run.standardOutput.back() == '\n');
  EXPECT_TRUE(WaitUntilNoneRun(RoguePath(), kPatience));
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptionInLab,
                         ::testing::Values(InterruptCase{"WhileTheFirstThousandWorkersStart",
                                                         "hang",
                                                         SIGINT,
                                                         {"--no-arp", "--csv", "-j", "1024",
                                                          "--batch", "1", "10.213.4.0/22"},
                                                         1022,
                                                         false},
                                           InterruptCase{
                                               "WhileAWorkerFloodsItsStandardError",
                                               "flood",
                                               SIGTERM,
                                               {"--no-arp", "--csv", "-j", "1", "10.213.4.1-2"},
                                               2,
                                               false},
                                           InterruptCase{"WhileTheOutputsReaderStalls",
                                                         "dead",
                                                         SIGTERM,
                                                         {"--no-arp", "--json", "-j", "8",
                                                          "--batch", "1", "10.213.4.0/22"},
                                                         1022,
                                                         true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct WriteErrorCase {
  const char* name;
  std::string outputFile;  // empty: a pipe whose reader has gone
  std::string message;     // empty: none at all
};

void PrintTo(const WriteErrorCase& c, std::ostream* os) { *os << c.name; }

class WriteErrorInLab : public FaultsInLab, public ::testing::WithParamInterface<WriteErrorCase> {};

TEST_P(WriteErrorInLab, EndsTheSweepAtOnceWithSystemStatus) {
  const RogueWorkers rogues("dead");
  ChildProcess sweep(ControllerCommand({"--no-arp", "--csv", "-j", "1", "--batch", "1", "--worker",
                                        RoguePath(), "10.213.4.1-60"}),
                     GetParam().outputFile);
  sweep.CloseOutput();
  ASSERT_TRUE(sweep.AwaitEnd(kPatience));
  const auto run = sweep.Finish();
  EXPECT_EQ(run.exitStatus, kExitSystem) << run.standardError;
  if (GetParam().message.empty()) {
    EXPECT_EQ(run.standardError, "");
  } else {
    EXPECT_THAT(run.standardError, HasSubstr(GetParam().message));
  }
  EXPECT_LT(rogues.Starts(), 60U);
}

INSTANTIATE_TEST_SUITE_P(Outputs, WriteErrorInLab,
                         ::testing::Values(WriteErrorCase{"FullDevice", "/dev/full",
                                                          "No space left on device"},
                                           WriteErrorCase{"ReaderGone", "", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

// nohup, and a shell without job control starting a job in the background.
class IgnoredSignalInLab : public FaultsInLab, public ::testing::WithParamInterface<int> {};

TEST_P(IgnoredSignalInLab, StaysIgnored) {
  std::signal(GetParam(), SIG_IGN);
  ChildProcess sweep(ControllerCommand({"--no-arp", "--csv", "10.213.1.1"}));
  std::signal(GetParam(), SIG_DFL);
  ASSERT_TRUE(AwaitProcesses(WorkerPath(), 1));
  kill(sweep.pid(), GetParam());
  const auto run = sweep.Finish();
  EXPECT_EQ(run.exitStatus, kExitNoneFound) << run.standardError;
  EXPECT_THAT(States(run), ElementsAre("dead"));
}

INSTANTIATE_TEST_SUITE_P(Signals, IgnoredSignalInLab, ::testing::Values(SIGHUP, SIGINT),
                         [](const auto& info) { return std::string(strsignal(info.param)); });

class WorkerFileChangedTest : public FaultsInLab, public ::testing::WithParamInterface<bool> {};

// An upgrade or a rebuild during a sweep: the program file of a running chain
// is removed (false) or replaced by another program (true) before its hand-off;
// the successors, and the chains started after, still run the worker the
// sweep started with.
TEST_P(WorkerFileChangedTest, EveryWorkerRunsTheProgramTheSweepStartedWith) {
  const TemporaryFolder folder;
  const auto worker = folder / "hostsweep-worker";
  std::filesystem::copy_file(WorkerPath(), worker,
                             std::filesystem::copy_options::overwrite_existing);
  // Slot 1 is dead (two echo time-outs); by the time slot 2 answers, the file
  // has changed. The second chain starts once the first has ended.
  ChildProcess sweep(ControllerCommand({"--no-arp", "--csv", "-v", "--batch", "3", "-j", "1",
                                        "--worker", worker.string(), "10.213.0.2", "10.213.0.12",
                                        "10.213.0.13", "10.213.0.10-11"}));
  ASSERT_TRUE(AwaitProcesses(worker.string(), 1));
  std::filesystem::remove(worker);
  if (GetParam()) {
    std::filesystem::copy_file("/bin/true", worker);
  }
  const auto run = sweep.Finish();
  EXPECT_EQ(run.exitStatus, kExitFound) << run.standardError;
  EXPECT_THAT(States(run), ElementsAre("dead", "alive", "alive", "alive", "alive"))
      << run.standardError;
}

INSTANTIATE_TEST_SUITE_P(RemovedOrReplaced, WorkerFileChangedTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Replaced" : "Removed"; });

// The full path of a system program; empty when it is not installed.
std::string SystemProgram(const std::string& name) {
  for (const char* folder : {"/usr/bin/", "/usr/sbin/", "/bin/", "/sbin/"}) {
    if (std::filesystem::exists(folder + name)) {
      return folder + name;
    }
  }
  return "";
}

// Runs `command` as the unprivileged user 4242 with `groupRange` as the lab
// namespace's net.ipv4.ping_group_range, which is put back afterwards.
class AsAnotherUser {
 public:
  explicit AsAnotherUser(const std::string& groupRange) {
    std::ifstream("/proc/sys/net/ipv4/ping_group_range") >> low_ >> high_;
    std::ofstream("/proc/sys/net/ipv4/ping_group_range") << groupRange;
  }
  ~AsAnotherUser() { std::ofstream("/proc/sys/net/ipv4/ping_group_range") << low_ << " " << high_; }
  AsAnotherUser(const AsAnotherUser&) = delete;
  AsAnotherUser& operator=(const AsAnotherUser&) = delete;
  static std::vector<std::string> Command(std::vector<std::string> command) {
    command.insert(command.begin(), {SystemProgram("setpriv"), "--reuid=4242", "--regid=4242",
                                     "--clear-groups", "--"});
    return command;
  }

 private:
  std::string low_;
  std::string high_;
};

struct EchoRightsCase {
  const char* name;
  const char* groupRange;
  bool namesOnly;
  bool capability;  // the worker file carries CAP_NET_RAW
  bool noNewPrivs;  // the controller starts with no_new_privs, so the file's right is void
  int exitStatus;
};

void PrintTo(const EchoRightsCase& c, std::ostream* os) { *os << c.name; }

class EchoRightsTest : public FaultsInLab, public ::testing::WithParamInterface<EchoRightsCase> {};

// Without the right to send echo requests every address would read dead: the
// sweep says why and how to fix it instead, unless it sends none.
TEST_P(EchoRightsTest, NoRightNoSweepAndTheReasonIsGiven) {
  const auto& param = GetParam();
  if (SystemProgram("setcap").empty()) {
    GTEST_SKIP() << "setcap is not installed (package libcap2-bin)";
  }
  const TemporaryFolder folder;
  std::filesystem::permissions(folder.Path(), std::filesystem::perms::all);
  const auto worker = folder / "hostsweep-worker";
  std::filesystem::copy_file(WorkerPath(), worker,
                             std::filesystem::copy_options::overwrite_existing);
  if (param.capability) {
    ASSERT_EQ(RunProcess({SystemProgram("setcap"), "cap_net_raw+ep", worker.string()}).exitStatus,
              0);
  }
  std::vector<std::string> arguments{"--no-arp", "--csv", "--worker", worker.string(),
                                     "10.213.0.10-12"};
  if (param.namesOnly) {
    arguments.insert(arguments.begin(), "--names-only");
  }
  const AsAnotherUser user(param.groupRange);
  auto command = AsAnotherUser::Command(ControllerCommand(arguments));
  if (param.noNewPrivs) {
    command.insert(command.begin() + 1, "--no-new-privs");
  }
  const auto run = RunProcess(command);
  EXPECT_EQ(run.exitStatus, param.exitStatus) << run.standardError;
  if (param.exitStatus == 4) {
    EXPECT_EQ(run.standardOutput, "");
    for (const char* fix : {"ping_group_range", "setcap cap_net_raw+ep", "root"}) {
      EXPECT_THAT(run.standardError, HasSubstr(fix));
    }
  } else {
    EXPECT_THAT(States(run), ElementsAre(param.namesOnly ? "named" : "alive",
                                         param.namesOnly ? "named" : "alive",
                                         param.namesOnly ? "unnamed" : "alive"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Users, EchoRightsTest,
    ::testing::Values(EchoRightsCase{"no_right", "1 0", false, false, false, 4},
                      EchoRightsCase{"names_only", "1 0", true, false, false, 0},
                      // A --worker file gains no right from its own file: the
                      // controller starts it with no_new_privs.
                      EchoRightsCase{"capable_worker_by_option", "1 0", false, true, false, 4},
                      EchoRightsCase{"capable_worker_no_new_privs", "1 0", false, true, true, 4},
                      EchoRightsCase{"group_may_ping", "0 2147483647", false, false, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct LimitCase {
  const char* name;
  std::vector<std::string> limit;  // the command that runs the controller within the limit
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

class SystemLimitTest : public FaultsInLab, public ::testing::WithParamInterface<LimitCase> {};

// Out of descriptors or processes, the sweep slows down and loses no host.
TEST_P(SystemLimitTest, TheSweepSlowsDownAndLosesNoHost) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizers' runtime opens a pipe to learn whether memory is readable
  // (the vptr check on every exception caught by type); at the descriptor
  // limit it cannot, and reports a sound object as invalid.
  if (std::string_view(GetParam().name) == "descriptors") {
    GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own to check memory";
  }
#endif
  const AsAnotherUser user("0 2147483647");
  std::vector<std::string> command = GetParam().limit;
  const auto controller =
      ControllerCommand({"--no-arp", "--csv", "-v", "-j", "1024", "10.213.0.100-159"});
  command.insert(command.end(), controller.begin(), controller.end());
  const auto run = RunProcess(command);
  EXPECT_EQ(run.exitStatus, kExitFound) << run.standardError;
  const auto records = ReadCsv(run.standardOutput);
  ASSERT_THAT(records, SizeIs(61));
  for (std::size_t i = 1; i < records.size(); ++i) {
    const int last = std::stoi(records[i][0].substr(records[i][0].rfind('.') + 1));
    EXPECT_EQ(records[i][1], last <= 149 ? "alive" : "dead") << records[i][0];
  }
  EXPECT_THAT(run.standardError, HasSubstr("worker chains at once, not 60"));
}

INSTANTIATE_TEST_SUITE_P(
    Limits, SystemLimitTest,
    ::testing::Values(LimitCase{"descriptors", {SystemProgram("prlimit"), "--nofile=64", "--"}},
                      LimitCase{"processes", AsAnotherUser::Command({SystemProgram("prlimit"),
                                                                     "--nproc=16", "--"})}),
    [](const auto& info) { return std::string(info.param.name); });

class UnrunnableWorkerTest : public FaultsInLab, public ::testing::WithParamInterface<bool> {};

// A folder (false) or a text file marked executable (true) as the worker: one
// message and status 4 at once, and no worker left behind.
TEST_P(UnrunnableWorkerTest, EndsTheSweepAtOnceWithOneMessage) {
  const TemporaryFolder folder;
  auto worker = folder.Path();
  if (GetParam()) {
    worker = folder / "hostsweep-worker";
    std::ofstream(worker) << "not a program\n";
    std::filesystem::permissions(worker, std::filesystem::perms::owner_all);
  }
  const auto run =
      RunController({"--no-arp", "--csv", "-j", "8", "--worker", worker.string(), "10.213.1.0/24"});
  EXPECT_EQ(run.exitStatus, 4);
  EXPECT_THAT(States(run), ::testing::IsEmpty());
  EXPECT_EQ(std::count(run.standardError.begin(), run.standardError.end(), '\n'), 1)
      << run.standardError;
}

INSTANTIATE_TEST_SUITE_P(FolderOrText, UnrunnableWorkerTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "TextFile" : "Folder"; });

// The worker's report is a sent window message: it waits for the receiver to
// handle it, however long that takes, and ends once the receiver answers or
// goes away. The controller therefore answers every packet (see below).
TEST_F(FaultsInLab, AWorkerWaitsForAReceiverThatNeverAnswersUntilItGoesAway) {
  FileDescriptor listener(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  const std::int32_t handle = 700000 + getpid();
  const auto address = report_socket::AddressOf(handle);
  ASSERT_EQ(bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address.name), address.length),
            0);
  ASSERT_EQ(listen(listener.Get(), 4), 0);
  ChildProcess worker({WorkerPath(), std::to_string(handle) + ",127.0.0.1,A,,,,,0"});
  pollfd incoming{listener.Get(), POLLIN, 0};
  ASSERT_EQ(poll(&incoming, 1, 10000), 1);
  FileDescriptor connection(accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  std::array<unsigned char, 512> packet{};
  EXPECT_GT(recv(connection.Get(), packet.data(), packet.size(), 0), 0);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_FALSE(worker.Ended()) << "the worker did not wait for the answer";
  connection.Close();
  listener.Close();
  EXPECT_EQ(worker.Finish().exitStatus, 0);
}

TEST_F(FaultsInLab, ControllerAnswersEveryPacketAndIgnoresWhatIsNotAReport) {
  const TemporaryFolder folder;
  const auto log = folder / "rogue.log";
  setenv("HOSTSWEEP_ROGUE_MODE", "hostile", 1);
  setenv("HOSTSWEEP_ROGUE_LOG", log.c_str(), 1);
  const auto run = RunController({"--no-arp", "--csv", "-v", "--batch", "3", "-j", "2", "--worker",
                                  HOSTSWEEP_ROGUE_WORKER_PATH, "10.213.1.1-6"});
  unsetenv("HOSTSWEEP_ROGUE_MODE");
  EXPECT_EQ(run.exitStatus, kExitNoneFound) << run.standardError;
  EXPECT_THAT(States(run), ElementsAre("dead", "dead", "dead", "dead", "dead", "dead"));
  EXPECT_THAT(run.standardError, HasSubstr("2 duplicate"));
  std::ifstream lines(log);
  std::vector<std::string> outcomes;
  for (std::string line; std::getline(lines, line);) {
    outcomes.push_back(line);
  }
  EXPECT_THAT(outcomes, ElementsAre("unacknowledged 0", "unacknowledged 0"));
}

TEST_F(FaultsInLab, UnrelatedEchoTrafficMakesNoHostAliveAndNoRoundTripLong) {
  if (!std::filesystem::exists("/usr/bin/ping") && !std::filesystem::exists("/bin/ping")) {
    GTEST_SKIP() << "ping is not installed (package iputils-ping)";
  }
  const std::string ping = std::filesystem::exists("/usr/bin/ping") ? "/usr/bin/ping" : "/bin/ping";
  // Echo requests and replies that are not the workers' arrive all through the sweep.
  std::deque<ChildProcess> noise;
  for (const char* target : {"10.213.0.100", "10.213.0.12", "10.213.0.1"}) {
    noise.emplace_back(
        std::vector<std::string>{ping, "-q", "-i", "0.002", "-s", "32", "-w", "60", target});
  }
  const auto run = RunController({"--no-arp", "--csv", "10.213.0.10-20", "10.213.0.100-110"});
  noise.clear();
  ASSERT_EQ(run.exitStatus, kExitFound) << run.standardError;
  const auto records = ReadCsv(run.standardOutput);
  ASSERT_THAT(records, SizeIs(23));
  for (std::size_t i = 1; i < records.size(); ++i) {
    const auto& record = records[i];
    const int last = std::stoi(record[0].substr(record[0].rfind('.') + 1));
    const bool live = (last >= 10 && last <= 14) || last >= 100;
    if (!live) {
      EXPECT_NE(record[1], "alive") << record[0];  // mute may be silent, never alive
      continue;
    }
    EXPECT_EQ(record[1], "alive") << record[0];
    // A reply after the time-out could not have been taken for this probe.
    EXPECT_LT(std::stol(record[2]), 1000) << record[0];
    EXPECT_EQ(record[3], "64") << record[0];
  }
}

struct ClosedStreamCase {
  const char* name;
  const char* redirection;  // for the shell that starts hostsweep
  std::vector<std::string> arguments;
  int exitStatus;
  std::string message;  // on standard error
};

void PrintTo(const ClosedStreamCase& c, std::ostream* os) { *os << c.name; }

class ClosedStreamInLab : public FaultsInLab,
                          public ::testing::WithParamInterface<ClosedStreamCase> {};

// A closed output's number goes to the next descriptor opened; hostsweep must
// not write its results or wait for one there.
TEST_P(ClosedStreamInLab, IsAUsageErrorOrHarmlessNeverAHang) {
  const auto& param = GetParam();
  std::vector<std::string> command{
      "/bin/sh", "-c", std::string(R"(exec "$0" "$@" )") + param.redirection, ControllerPath()};
  command.insert(command.end(), param.arguments.begin(), param.arguments.end());
  ChildProcess sweep(command);
  ASSERT_TRUE(sweep.AwaitEnd(kPatience)) << "hostsweep hangs";
  const auto run = sweep.Finish();
  EXPECT_EQ(run.exitStatus, param.exitStatus) << run.standardError;
  EXPECT_THAT(run.standardError, HasSubstr(param.message));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ClosedStreamInLab,
    ::testing::Values(
        ClosedStreamCase{"Output", ">&-", {"-q", "10.213.0.10-12"}, 3, "standard output is closed"},
        ClosedStreamCase{"OutputOfCsv", ">&-", {"--csv", "10.213.0.10"}, 3, "standard output"},
        ClosedStreamCase{"Error", "2>&-", {"-v", "10.213.0.10-12"}, 3, ""},
        ClosedStreamCase{"Input", "<&-", {"-v", "10.213.0.10"}, kExitFound, "0 duplicate"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hostsweep::testing
