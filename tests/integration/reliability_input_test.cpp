// Hostile input: request lines the worker cannot use and target files full of
// garbage give a clear message and a documented exit status, never a crash or
// a hang.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"

namespace hostsweep::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr int kWorkerFailed = 1;  // driver/exit_status.h
constexpr int kExitUsage = 3;     // controller/exit_status.h
constexpr int kExitSystem = 4;    // controller/exit_status.h

struct RequestCase {
  const char* name;
  std::string line;   // "{H}" stands for the receiver's handle
  bool fails;         // the worker ends with a message instead of reporting
  std::string about;  // what the message or the report says
};

std::string WithHandle(std::string line, std::int32_t handle) {
  const auto at = line.find("{H}");
  return at == std::string::npos ? line : line.replace(at, 3, std::to_string(handle));
}

class HostileRequestTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(HostileRequestTest, EndsWithAMessageOrAReportNeverACrash) {
  if (!InLab()) {
    GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
  }
  ReportReceiver receiver;
  const auto run = RunWorkerProcess(WithHandle(GetParam().line, receiver.handle()));
  if (GetParam().fails) {
    EXPECT_EQ(run.exitStatus, kWorkerFailed);
    EXPECT_THAT(run.standardError, StartsWith("hostsweep-worker: "));
    EXPECT_THAT(run.standardError, HasSubstr(GetParam().about));
    EXPECT_TRUE(receiver.Texts().empty());
  } else {
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    EXPECT_THAT(receiver.WaitFor(1, milliseconds(5000)), ::testing::SizeIs(1));
    EXPECT_THAT(receiver.Texts(), ::testing::ElementsAre(GetParam().about));
  }
}

const std::string kLongLabel(300, 'L');

INSTANTIATE_TEST_SUITE_P(
    Lines, HostileRequestTest,
    ::testing::Values(RequestCase{"NoFieldsAtAll", "", true, "fields"},
                      RequestCase{"OnlyCommas", ",,,,,,,", true, "reply window"},
                      RequestCase{"NonNumericHandle", "window,10.213.1.9,A,,,,,0", true,
                                  "reply window \"window\""},
                      RequestCase{"HandleBeyond32Bits", "99999999999999,10.213.1.9,A,,,,,0", true,
                                  "reply window"},
                      RequestCase{"LabelOf300Characters", "{H},10.213.1.9," + kLongLabel + ",,,,,0",
                                  true, "characters"},
                      RequestCase{"HugeAddressField",
                                  "{H}," + std::string(100000, '7') + ",A,,,,,0", false, "A,Dead"},
                      RequestCase{"HugePauseText",
                                  "{H},10.213.1.9,A,,,,," + std::string(100000, 'x'), false,
                                  "A,Dead"},
                      RequestCase{"ThousandsOfFields",
                                  "{H},10.213.1.9,A,,,,,0" + std::string(20000, ','), false,
                                  "A,Dead"}),
    [](const auto& info) { return std::string(info.param.name); });

struct TargetFileCase {
  const char* name;
  std::string content;
  std::string named;  // what the message quotes
};

class GarbageTargetFileTest : public ::testing::TestWithParam<TargetFileCase> {};

TEST_P(GarbageTargetFileTest, IsRefusedWithUsageStatusBeforeAnythingStarts) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("hostsweep-targets-" + std::string(GetParam().name));
  std::ofstream(path, std::ios::binary) << GetParam().content;
  const auto run = RunController({"--csv", "-f", path.string()});
  std::filesystem::remove(path);
  EXPECT_EQ(run.exitStatus, kExitUsage) << run.standardError;
  EXPECT_THAT(run.standardError, HasSubstr(GetParam().named));
  EXPECT_EQ(run.standardOutput, "");
  EXPECT_TRUE(WaitUntilNoneRun(WorkerPath(), milliseconds(0)));
}

INSTANTIATE_TEST_SUITE_P(
    Files, GarbageTargetFileTest,
    ::testing::Values(
        TargetFileCase{"GarbageLine", "10.213.0.10\nthis is not an address\n", "this is not"},
        TargetFileCase{"BinaryBytes", std::string("10.213.0.10\n\x01\xff\xfe\x7f\n", 17),
                       "hostsweep:"},
        TargetFileCase{"ZeroBytes", std::string("10.213.0.10\n\0\0\0\n", 16), "hostsweep:"},
        TargetFileCase{"HugeLine", std::string(200000, '9') + "\n", "hostsweep:"},
        TargetFileCase{"TooManyAddresses", "10.0.0.0/8\n", "65536"},
        TargetFileCase{"OnlyComments", "# nothing here\n\n", "hostsweep:"}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedRun {
  const char* name;
  std::vector<std::string> arguments;
  bool inputClosed;
  int exitStatus;
  std::string says;
};

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
