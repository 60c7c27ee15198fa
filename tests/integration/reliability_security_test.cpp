// Reports cross only between processes of one user, in both directions, and
// the controller files only those of its own worker chains.
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/posix/report_socket.h"
#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"
#include "tests/integration/reliability_support.h"
#include "tests/temporary_folder.h"

namespace hostsweep::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::SizeIs;

constexpr int kExitNoneFound = 1;
constexpr int kExitSystem = 4;

class OtherUserInLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InLab()) {
      GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
    }
    if (getuid() != 0 || getpwnam("nobody") == nullptr) {
      GTEST_SKIP() << "needs root and the user nobody to act as another user";
    }
  }
};

TEST_F(OtherUserInLab, ControllerDropsReportsFromAnotherUser) {
  // The stand-in worker turns into nobody and reports every slot alive.
  setenv("HOSTSWEEP_ROGUE_MODE", "other-user", 1);
  const auto run = RunController(
      {"--csv", "--batch", "3", "--worker", HOSTSWEEP_ROGUE_WORKER_PATH, "10.213.0.10-12"});
  unsetenv("HOSTSWEEP_ROGUE_MODE");
  EXPECT_EQ(run.exitStatus, kExitNoneFound) << run.standardError;
  const auto records = ReadCsv(run.standardOutput);
  ASSERT_THAT(records, SizeIs(4));
  for (std::size_t i = 1; i < records.size(); ++i) {
    EXPECT_THAT(records[i],
                ElementsAre(records[i][0], "no report", "", "", "", "", "", "", "", "", ""));
  }
}

class OwnChainsInLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InLab() || getuid() != 0) {
      GTEST_SKIP() << "needs root and the lab's scanner namespace";
    }
  }
};

// The request line of a running worker, as any local user can read it.
std::string RequestLineOf(pid_t worker) {
  std::ifstream file("/proc/" + std::to_string(worker) + "/cmdline");
  const std::string commandLine((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  const auto argument = commandLine.find('\0');
  return argument == std::string::npos ? "" : commandLine.substr(argument + 1).c_str();
}

TEST_F(OwnChainsInLab, ReportsOfAProcessOutsideTheSweepsChainsAreNotFiled) {
  // The worker (the echo path: a dead address gets one) spends two echo
  // time-outs on the dead address; meanwhile a
  // process of the same user, started apart, reports its label alive.
  ChildProcess sweep(ControllerCommand({"--no-arp", "--csv", "-v", "10.213.1.1"}));
  ASSERT_TRUE(AwaitProcesses(WorkerPath(), 1));
  const auto workers = ProcessesRunning(WorkerPath());
  ASSERT_THAT(workers, SizeIs(1));
  const std::string requestLine = RequestLineOf(workers[0]);
  ASSERT_FALSE(requestLine.empty());
  setenv("HOSTSWEEP_ROGUE_MODE", "intruder", 1);
  const auto intruder = RunProcess({HOSTSWEEP_ROGUE_WORKER_PATH, requestLine});
  unsetenv("HOSTSWEEP_ROGUE_MODE");
  EXPECT_EQ(intruder.exitStatus, 0) << intruder.standardError;
  const auto run = sweep.Finish();
  EXPECT_EQ(run.exitStatus, kExitNoneFound) << run.standardError;
  const auto records = ReadCsv(run.standardOutput);
  ASSERT_THAT(records, SizeIs(2));
  EXPECT_EQ(records[1][1], "dead");
  EXPECT_THAT(run.standardError, ::testing::HasSubstr("stray report \"h0,1,64,intruder,\""));
}

TEST_F(OwnChainsInLab, ASetUserIdWorkerIsRefusedBeforeTheSweep) {
  const TemporaryFolder folder;
  const auto copy = folder / "hostsweep-setuid-worker";
  std::filesystem::copy_file(WorkerPath(), copy, std::filesystem::copy_options::overwrite_existing);
  ASSERT_EQ(chmod(copy.c_str(), 04755), 0);
  const auto run = RunController({"--csv", "--worker", copy.string(), "10.213.0.10"});
  EXPECT_EQ(run.exitStatus, kExitSystem) << run.standardError;
  EXPECT_EQ(run.standardOutput, "");
  EXPECT_THAT(run.standardError, ::testing::HasSubstr("setcap cap_net_raw+ep " + copy.string()));
}

// A receiver that takes packets from anyone, run as `uid` in a child process;
// it tells `result` once it listens (one byte), then how many report bytes
// reached it within a few seconds.
void ListenAs(uid_t uid, std::int32_t handle, int result) {
  if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) {
    _exit(1);
  }
  const int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  const auto address = report_socket::AddressOf(handle);
  if (bind(listener, reinterpret_cast<const sockaddr*>(&address.name), address.length) != 0 ||
      listen(listener, 4) != 0) {
    _exit(1);
  }
  const char ready = 1;
  (void)!write(result, &ready, 1);
  ssize_t received = 0;
  pollfd incoming{listener, POLLIN, 0};
  if (poll(&incoming, 1, 4000) == 1) {
    const int connection = accept(listener, nullptr, nullptr);
    std::array<unsigned char, 512> packet{};
    pollfd readable{connection, POLLIN, 0};
    if (poll(&readable, 1, 2000) == 1) {
      received = recv(connection, packet.data(), packet.size(), 0);
      send(connection, &report_socket::kAcknowledgement, 1, MSG_NOSIGNAL);
    }
  }
  (void)!write(result, &received, sizeof received);
  _exit(0);
}

struct ListenerCase {
  const char* name;
  bool otherUser;
};

void PrintTo(const ListenerCase& c, std::ostream* os) { *os << c.name; }

class WorkerListenerTest : public ::testing::TestWithParam<ListenerCase> {};

TEST_P(WorkerListenerTest, WorkerDeliversOnlyToItsOwnUsersListener) {
  if (!InLab() || getuid() != 0 || getpwnam("nobody") == nullptr) {
    GTEST_SKIP() << "needs root, the user nobody and the lab's scanner namespace";
  }
  const uid_t listenerUser = GetParam().otherUser ? getpwnam("nobody")->pw_uid : getuid();
  const std::int32_t handle = 800000 + getpid();
  std::array<int, 2> result{};
  ASSERT_EQ(pipe(result.data()), 0);
  const pid_t listener = fork();
  if (listener == 0) {
    close(result[0]);
    ListenAs(listenerUser, handle, result[1]);
  }
  close(result[1]);
  char ready = 0;
  ASSERT_EQ(read(result[0], &ready, 1), 1) << "the listener did not start";
  const auto worker = RunWorkerProcess(std::to_string(handle) + ",127.0.0.1,A,,,,,0");
  ssize_t received = -1;
  EXPECT_EQ(read(result[0], &received, sizeof received), static_cast<ssize_t>(sizeof received));
  close(result[0]);
  waitpid(listener, nullptr, 0);
  EXPECT_EQ(worker.exitStatus, 0) << worker.standardError;
  if (GetParam().otherUser) {
    EXPECT_EQ(received, 0) << "the worker sent its report to another user's receiver";
  } else {
    EXPECT_GT(received, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Users, WorkerListenerTest,
                         ::testing::Values(ListenerCase{"SameUser", false},
                                           ListenerCase{"Nobody", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hostsweep::testing
