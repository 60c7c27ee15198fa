// Hostile input the controller meets as a process: a closed standard input,
// paths and interface names holding terminal controls. It gives a clear
// message and a documented exit status, with nothing in it that steers a
// terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"

namespace hostsweep::testing {
namespace {

using ::testing::HasSubstr;

constexpr int kExitUsage = 3;   // controller/exit_status.h
constexpr int kExitSystem = 4;  // controller/exit_status.h

struct RefusedRun {
  const char* name;
  std::vector<std::string> arguments;
  bool inputClosed;
  int exitStatus;
  std::string says;
};

void PrintTo(const RefusedRun& c, std::ostream* os) { *os << c.name; }

class RefusedRunTest : public ::testing::TestWithParam<RefusedRun> {};

// What a message quotes from outside reaches the terminal masked.
TEST_P(RefusedRunTest, SaysWhyWithNothingThatSteersATerminal) {
  // The shell only closes standard input, which a child process cannot be given.
  std::vector<std::string> command{
      "/bin/sh", "-c", GetParam().inputClosed ? "exec \"$@\" <&-" : "exec \"$@\"", "sh"};
  const auto controller = ControllerCommand(GetParam().arguments);
  command.insert(command.end(), controller.begin(), controller.end());
  const auto run = RunProcess(command);
  EXPECT_EQ(run.exitStatus, GetParam().exitStatus) << run.standardError;
  EXPECT_THAT(run.standardError, HasSubstr(GetParam().says));
  // NOLINTNEXTLINE(misc-misleading-bidirectional): U+202E is what is looked for
  for (const char* control : {"\x1b", "\x07", "\xC2\x9B", "\xE2\x80\xAE"}) {
    EXPECT_EQ(run.standardError.find(control), std::string::npos) << run.standardError;
  }
  EXPECT_EQ(run.standardOutput, "");
  EXPECT_TRUE(WaitUntilNoneRun(WorkerPath(), milliseconds(0)));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RefusedRunTest,
    ::testing::Values(RefusedRun{"ClosedInputForTargets",
                                 {"-f", "-", "10.213.0.10"},
                                 true,
                                 kExitUsage,
                                 "standard input is closed"},
                      RefusedRun{"WorkerPathWithControls",
                                 // NOLINTNEXTLINE(misc-misleading-bidirectional)
                                 {"--worker", "/nonexistent/\x1b]2;owned\x07\xC2\x9B\xE2\x80\xAE",
                                  "10.213.0.10"},
                                 false,
                                 kExitSystem,
                                 "/nonexistent/?]2;owned???"}),
    [](const auto& info) { return std::string(info.param.name); });

// An interface's name is any bytes but '/', ':' and spaces; --localnet's
// refusal quotes it masked.
TEST(LocalnetRefusal, QuotesAnInterfaceNameMasked) {
  if (!InLab()) {
    GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
  }
  // NOLINTNEXTLINE(misc-misleading-bidirectional)
  const std::string name = "\x1b[31mhb\xE2\x80\xAE";
  ASSERT_EQ(RunProcess({"/bin/ip", "link", "add", "name", name, "type", "veth", "peer", "name",
                        "hostile-peer"})
                .exitStatus,
            0);
  const bool up =
      RunProcess({"/bin/ip", "addr", "add", "10.0.0.1/8", "dev", name}).exitStatus == 0 &&
      RunProcess({"/bin/ip", "link", "set", name, "up"}).exitStatus == 0;
  const auto run = RunController({"--localnet"});
  RunProcess({"/bin/ip", "link", "del", name});
  ASSERT_TRUE(up);
  EXPECT_EQ(run.exitStatus, kExitUsage) << run.standardError;
  EXPECT_THAT(run.standardError, HasSubstr("?[31mhb?'s network 10.0.0.0/8"));
  EXPECT_EQ(run.standardError.find('\x1b'), std::string::npos) << run.standardError;
}

}  // namespace
}  // namespace hostsweep::testing
